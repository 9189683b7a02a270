#!/usr/bin/env python3
"""The layers of src/ and the map of them in docs/design.md.

The layers are the libraries of src/CMakeLists.txt, in the order they are
declared there (quarry_common, quarry_core, quarry_win, quarry_program, then
the program itself). A file belongs to the layer that lists it; a header to
the layer of its .cpp of the same name, or to the one that lists it. Within
a layer the folders have an order too: a file includes from its own folder
or from one before it in FOLDER_ORDER.

  check-layers.py ROOT includes   every include runs down (or across) a layer
  check-layers.py ROOT map        docs/design.md's map is the one the tree
                                  makes, and every file it names exists
  check-layers.py ROOT write-map  rewrites the map in docs/design.md
  check-layers.py ROOT count      prints the includes that run up, and their
                                  number, without failing
"""

import os
import re
import sys

FOLDER_ORDER = ["common", "settings", "restrictions", "package", "execution",
                "workflow", "ui", "app"]
LAYER_NAMES = {"quarry_common": "common", "quarry_core": "pure core",
               "quarry_win": "Windows wrappers", "quarry_program": "program",
               "quarry": "entry point"}
PURE_LAYERS = 2  # the first two layers build without windows.h
MAP_BEGIN = "<!-- The map below is made by tests/layout/check-layers.py ROOT write-map. -->"
MAP_END = "<!-- End of the map. -->"
SOURCE = re.compile(r"^[\w/]+\.(?:cpp|h)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def read_layers(root):
    """[(target, [paths below src/])] in declaration order."""
    text = open(os.path.join(root, "src", "CMakeLists.txt"), encoding="utf-8").read()
    layers = []
    for match in re.finditer(r"add_(?:library|executable)\((\w+)([^)]*)\)", text):
        target, body = match.group(1), match.group(2)
        if target not in LAYER_NAMES:
            continue
        files = [word for word in body.split() if SOURCE.match(word)]
        layers.append((target, files))
    return layers


def layer_of_files(root, layers):
    """{path below src/: layer index}, headers included."""
    listed = {}
    for index, (_, files) in enumerate(layers):
        for path in files:
            listed[path] = index
    result = dict(listed)
    for folder, _, names in os.walk(os.path.join(root, "src")):
        for name in names:
            path = os.path.relpath(os.path.join(folder, name), os.path.join(root, "src"))
            path = path.replace(os.sep, "/")
            if path.endswith(".h") and path not in result:
                twin = path[:-2] + ".cpp"
                if twin in listed:
                    result[path] = listed[twin]
    return result


def source_files(root):
    for folder, _, names in os.walk(os.path.join(root, "src")):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                path = os.path.relpath(os.path.join(folder, name), os.path.join(root, "src"))
                yield path.replace(os.sep, "/")


def include_faults(root):
    layers = read_layers(root)
    layer = layer_of_files(root, layers)
    faults = []
    for path in source_files(root):
        if path not in layer:
            faults.append(f"{path}: in no layer of src/CMakeLists.txt")
            continue
        text = open(os.path.join(root, "src", path), encoding="utf-8").read()
        folder = path.split("/")[0]
        for bracket, included in INCLUDE.findall(text):
            if bracket == "<":
                if included.lower() == "windows.h" and layer[path] < PURE_LAYERS:
                    faults.append(f"{path}: includes <windows.h> in the "
                                  f"{LAYER_NAMES[layers[layer[path]][0]]}")
                continue
            if included not in layer:
                continue  # a generated or local file, not a layer's
            if layer[included] > layer[path]:
                faults.append(f"{path} -> {included}: up from the "
                              f"{LAYER_NAMES[layers[layer[path]][0]]} to the "
                              f"{LAYER_NAMES[layers[layer[included]][0]]}")
            target_folder = included.split("/")[0]
            if (folder in FOLDER_ORDER and target_folder in FOLDER_ORDER and
                    FOLDER_ORDER.index(target_folder) > FOLDER_ORDER.index(folder)):
                faults.append(f"{path} -> {included}: up from {folder}/ to {target_folder}/")
    return faults


def make_map(root):
    layers = read_layers(root)
    layer = layer_of_files(root, layers)
    shown = [index for index, (target, _) in enumerate(layers) if target != "quarry"]
    cells = {}
    for path, index in layer.items():
        folder, name = path.split("/")[0], os.path.splitext(path.split("/")[-1])[0]
        if not path.endswith(".cpp") and (path[:-2] + ".cpp") in layer:
            continue
        label = name + (".h" if path.endswith(".h") else "")
        cells.setdefault((folder, index), set()).add(label)
    lines = [MAP_BEGIN, "",
             "| Folder | " + " | ".join(f"{LAYER_NAMES[layers[i][0]]} (`{layers[i][0]}`)"
                                       for i in shown) + " |",
             "|---|" + "---|" * len(shown)]
    for folder in FOLDER_ORDER:
        row = [", ".join(f"`{label}`" for label in sorted(cells.get((folder, i), ())))
               for i in shown]
        lines.append(f"| `src/{folder}` | " + " | ".join(row) + " |")
    entry = [path for path in layers[-1][1]] if layers[-1][0] == "quarry" else []
    lines.append("")
    lines.append("The program's entry point: " +
                 ", ".join(f"`src/{path}`" for path in entry) + ".")
    tools = os.path.join(root, "tools", "quarrypack")
    stems = sorted({os.path.splitext(name)[0] for name in os.listdir(tools)
                    if name.endswith((".cpp", ".h"))})
    lines.append("The packager, `tools/quarrypack`: " +
                 ", ".join(f"`{stem}`" for stem in stems) + ".")
    lines.append("")
    lines.append(MAP_END)
    return "\n".join(lines)


def map_span(text):
    begin, end = text.find(MAP_BEGIN), text.find(MAP_END)
    if begin < 0 or end < begin:
        return None
    return begin, end + len(MAP_END)


def named_files(text):
    """File names in backticks: paths, or names with a source extension."""
    for token in re.findall(r"`([^`\s]+)`", text):
        if "/" in token or re.search(r"\.(cpp|h|sh|py|cmake|rc|md)$", token):
            yield token


def exists_somewhere(root, token):
    if os.path.exists(os.path.join(root, token)):
        return True
    for suffix in ("", ".cpp", ".h", ".sh"):
        if os.path.exists(os.path.join(root, token + suffix)):
            return True
    base = token.split("/")[-1]
    for folder, _, names in os.walk(root):
        if "/build" in folder or "/.git" in folder or "/dist" in folder:
            continue
        if base in names:
            return True
    return False


def map_faults(root):
    design = open(os.path.join(root, "docs", "design.md"), encoding="utf-8").read()
    span = map_span(design)
    if not span:
        return ["docs/design.md: no map (run write-map)"]
    faults = []
    if design[span[0]:span[1]] != make_map(root):
        faults.append("docs/design.md: the map differs from the tree (run write-map)")
    for token in sorted(set(named_files(design))):
        if token.startswith(("build/", "dist/", "%", "C:", "\\", ".", "/")) or "*" in token:
            continue
        if re.fullmatch(r"[a-z0-9_]+\.h", token):
            continue  # a system header
        if not exists_somewhere(root, token):
            faults.append(f"docs/design.md names `{token}`, which does not exist")
    return faults


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    root, verb = sys.argv[1], sys.argv[2]
    if verb == "includes":
        faults = include_faults(root)
    elif verb == "count":
        faults = include_faults(root)
        for fault in faults:
            print(fault)
        print(f"includes that run up a layer or a folder: {len(faults)}")
        return 0
    elif verb == "map":
        faults = map_faults(root)
    elif verb == "write-map":
        path = os.path.join(root, "docs", "design.md")
        design = open(path, encoding="utf-8").read()
        span = map_span(design)
        if not span:
            print("docs/design.md: put the two map markers where the map goes")
            return 1
        open(path, "w", encoding="utf-8").write(
            design[:span[0]] + make_map(root) + design[span[1]:])
        return 0
    else:
        print(__doc__)
        return 2
    for fault in faults:
        print(fault)
    print(f"{verb}: {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
