#!/usr/bin/python3
"""quarrypack create's version block and icon, read back with an independent
PE reader (Debian's python3-pefile) from the shipped quarry.exe packed with
every option: the strings and versions, the icon group and its images, every
other resource byte for byte, the headers and the PE checksum; then the same
program signed after packing, which must verify.

Usage: check-program-resources.py QUARRYPACK QUARRY_EXE SCRATCH_FOLDER
"""
import os
import shutil
import struct
import subprocess
import sys
import zlib

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
failures = []


def expect(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what)


def run(*args, ok=True):
    result = subprocess.run(args, capture_output=True, text=True)
    if ok and result.returncode != 0:
        sys.exit("%s failed (%d): %s%s" % (args[0], result.returncode, result.stdout, result.stderr))
    return result


def align(value, to):
    return (value + to - 1) // to * to


def resources(pe):
    """(type, name, language) -> bytes, numbers or strings as keys."""
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name_entry in type_entry.directory.entries:
            for language in name_entry.directory.entries:
                data = language.data.struct
                key = (type_entry.id if type_entry.name is None else str(type_entry.name),
                       name_entry.id if name_entry.name is None else str(name_entry.name),
                       language.id)
                found[key] = pe.get_data(data.OffsetToData, data.Size)
    return found


def version_strings(pe):
    """{table key: {name: value}}, the translations and the fixed versions."""
    tables, translations = {}, []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                tables[table.LangID.decode()] = {k.decode(): v.decode() for k, v in table.entries.items()}
        if info.Key == b"VarFileInfo":
            for var in info.Var:
                translations += list(var.entry.values())
    fixed = pe.VS_FIXEDFILEINFO[0]
    return tables, translations, (fixed.FileVersionMS, fixed.FileVersionLS,
                                  fixed.ProductVersionMS, fixed.ProductVersionLS)


def rsrc_is_last(pe, size):
    sections = pe.sections
    last = sections[-1]
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
    return (last.Name.rstrip(b"\0") == b".rsrc" and directory.VirtualAddress == last.VirtualAddress
            and all(s.VirtualAddress < last.VirtualAddress for s in sections[:-1])
            and all(s.PointerToRawData + s.SizeOfRawData <= last.PointerToRawData
                    for s in sections[:-1] if s.SizeOfRawData)
            and last.PointerToRawData + last.SizeOfRawData == size)


def dib(size, bits):
    """A BITMAPINFOHEADER image of an icon: colour rows, then the AND mask."""
    row = align(size * bits // 8, 4)
    mask = align((size + 7) // 8, 4)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, 0, 0, 0, 0, 0)
    palette = b"\0\0\0\0" * (1 << bits) if bits <= 8 else b""
    return header + palette + bytes([0x5A]) * (row * size) + b"\0" * (mask * size)


def png(size):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + b"\x20\x40\x80\xff" * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def icon_file(images):
    """images: (width byte, height byte, colours, planes, bits, data)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, colours, planes, bits, data in images:
        out += struct.pack("<BBBBHHII", width, height, colours, 0, planes, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(image[5] for image in images)


def main():
    pack, stub, scratch = sys.argv[1:4]
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch + "/payload")
    with open(scratch + "/payload/readme.txt", "w") as f:
        f.write("readme\r\n")
    with open(scratch + "/Settings.ini", "w") as f:
        f.write("[Package]\r\nProductName=Settings Product\r\n"
                "[Execution_x86]\r\nFileName=readme.txt\r\n[Execution_x64]\r\nFileName=readme.txt\r\n")
    # The second image leaves planes and bits to the image, as some icon
    # editors do; the third is a PNG of 256 pixels (stored as 0).
    images = [(16, 16, 0, 1, 32, dib(16, 32)), (32, 32, 16, 0, 0, dib(32, 4)),
              (0, 0, 0, 1, 32, png(256))]
    with open(scratch + "/product.ico", "wb") as f:
        f.write(icon_file(images))

    original = pefile.PE(stub)
    expect(rsrc_is_last(original, os.path.getsize(stub)), "the stub's .rsrc is its last section")
    before = resources(original)
    stub_tables, stub_translations, _ = version_strings(original)

    packed = scratch + "/Contoso Setup.exe"
    run(pack, "create", "--stub", stub, "--settings", scratch + "/Settings.ini",
        "--payload", scratch + "/payload", "-o", packed, "--product-name", "Contoso Driver",
        "--company", "Contoso Ltd", "--copyright", "\u00a9 2026 Contoso Ltd",
        "--file-version", "2.3.4.5", "--product-version", "2.3", "--icon", scratch + "/product.ico")
    pe = pefile.PE(packed)
    size = os.path.getsize(packed)
    expect(pe.verify_checksum(), "the packed program's PE checksum is the file's")
    expect(pe.OPTIONAL_HEADER.CheckSum != original.OPTIONAL_HEADER.CheckSum, "the checksum changed")
    last = pe.sections[-1]
    expect(last.Name.rstrip(b"\0") == b".rsrc", "the resource section stays last")
    expect(pe.OPTIONAL_HEADER.SizeOfImage
           == align(last.VirtualAddress + last.Misc_VirtualSize, pe.OPTIONAL_HEADER.SectionAlignment),
           "SizeOfImage ends with the new section")
    expect(pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].Size == last.Misc_VirtualSize,
           "the resource directory entry has the section's size")
    expect(last.SizeOfRawData % pe.OPTIONAL_HEADER.FileAlignment == 0, "raw size is aligned")
    package_offset = struct.unpack_from("<Q", pe.__data__, 32)[0]
    expect(package_offset == last.PointerToRawData + last.SizeOfRawData,
           "the package begins where the new section ends")
    expect(package_offset < size, "a package follows")

    tables, translations, fixed = version_strings(pe)
    expect(translations == stub_translations, "translations as the stub has them")
    expect(sorted(tables) == sorted(stub_tables), "string tables keep their language and code page")
    for key, table in tables.items():
        wanted = dict(stub_tables[key])
        wanted.update({"ProductName": "Contoso Driver", "FileDescription": "Contoso Driver",
                       "CompanyName": "Contoso Ltd", "LegalCopyright": "\u00a9 2026 Contoso Ltd",
                       "FileVersion": "2.3.4.5", "ProductVersion": "2.3",
                       "OriginalFilename": "Contoso Setup.exe", "InternalName": "Contoso Setup"})
        expect(table == wanted, "table %s: %r" % (key, table))
    expect(fixed == (0x00020003, 0x00040005, 0x00020003, 0), "fixed versions %r" % (fixed,))

    after = resources(pe)
    kept = {k: v for k, v in before.items() if k[0] not in (RT_ICON, RT_GROUP_ICON, RT_VERSION)}
    expect({k: v for k, v in after.items() if k[0] not in (RT_ICON, RT_GROUP_ICON, RT_VERSION)}
           == kept, "every other resource is kept byte for byte")
    expect(any(k[0] == 24 for k in kept) and any(k[0] == 6 for k in kept),
           "the stub carries a manifest and string tables")
    old_groups = [k for k in before if k[0] == RT_GROUP_ICON]
    groups = [k for k in after if k[0] == RT_GROUP_ICON]
    expect([k[1:] for k in groups] == [k[1:] for k in old_groups], "the icon group keeps its name")
    group = after[groups[0]]
    expect(struct.unpack_from("<HHH", group) == (0, 1, 3), "the group names three images")
    icon_ids = []
    for i, (width, height, colours, planes, bits, data) in enumerate(images):
        entry = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        wanted = (width, height, colours, 0, planes or 1, bits or 4, len(data))
        expect(entry[:7] == wanted, "group entry %d: %r" % (i, entry))
        icon_ids.append(entry[7])
        expect(after.get((RT_ICON, entry[7], groups[0][2])) == data, "image %d stored whole" % i)
    expect(sorted(k[1] for k in after if k[0] == RT_ICON) == sorted(icon_ids),
           "the stub's own images are gone")

    listing = run(pack, "list", packed).stdout
    expect("version   file 2.3.4.5, product 2.3.0.0" in listing, "list shows the versions")
    expect("ProductName       Contoso Driver\n" in listing, "list shows the product name")

    # The product name from the settings when no option gives one.
    defaulted = scratch + "/defaulted.exe"
    run(pack, "create", "--stub", stub, "--settings", scratch + "/Settings.ini",
        "--payload", scratch + "/payload", "-o", defaulted)
    tables, _, _ = version_strings(pefile.PE(defaulted))
    for table in tables.values():
        expect(table["ProductName"] == "Settings Product" and table["FileDescription"]
               == "Settings Product", "the settings' product name by default: %r" % table)
    expect(pefile.PE(defaulted).verify_checksum(), "checksum of the defaulted program")

    # Signed after packing, as users sign.
    key, certificate = scratch + "/key.pem", scratch + "/cert.pem"
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Contoso Ltd",
        "-days", "30", "-keyout", key, "-out", certificate)
    signed = scratch + "/signed.exe"
    run("osslsigncode", "sign", "-h", "sha256", "-certs", certificate, "-key", key,
        "-in", packed, "-out", signed)
    expect(run("osslsigncode", "verify", "-CAfile", certificate, "-in", signed,
               ok=False).returncode == 0, "osslsigncode verifies the signed program")
    check = run(pack, "check", signed, ok=False)
    expect("signature: the SHA256 digest of the file matches the signed one" in check.stdout,
           "check verifies the signed program: " + check.stdout + check.stderr)
    expect(pefile.PE(signed).verify_checksum(), "checksum of the signed program")

    # A program that already holds a package is no stub.
    refused = run(pack, "create", "--stub", packed, "--settings", scratch + "/Settings.ini",
                  "--payload", scratch + "/payload", "-o", scratch + "/again.exe", ok=False)
    expect(refused.returncode == 1 and "already holds a package" in refused.stderr,
           "a packed stub is refused: " + refused.stderr)
    refused = run(pack, "create", "--stub", signed, "--settings", scratch + "/Settings.ini",
                  "--payload", scratch + "/payload", "-o", scratch + "/again.exe", ok=False)
    expect(refused.returncode == 1, "a signed stub is refused: " + refused.stderr)

    if failures:
        sys.exit("%d checks failed" % len(failures))
    print("all checks passed")


main()
