#!/usr/bin/env bash
# Packs the packages that the extraction-workflow tests run, with the shipped
# quarrypack and quarry.exe. Usage: make-packages.sh QUARRYPACK QUARRY_EXE OUTDIR
set -euo pipefail
pack=$1
stub=$2
out=$3
rm -rf "$out"
mkdir -p "$out/src/payload/sub/deeper" "$out/src/empty"
printf 'setup\r\n' > "$out/src/payload/setup.cmd"
printf 'nested file\r\n' > "$out/src/payload/sub/deeper/data.txt"
head -c 300000 /dev/urandom > "$out/src/payload/sub/blob.bin"

source "$(dirname "$0")/../common/pack-settings.sh"
settings basic '[Package]' 'ProductName=Workflow Test' 'WindowTitle=Workflow Test Window'
settings message '[Package]' 'ProductName=Workflow Test' '[Message]' 'ShowMessageBox=1' \
  'ShowMessageBoxWhenSilent=1' 'DialogButtonType=1'
settings tervo '[Package]' 'TervoUpdateMode=1' '[Message]' 'ShowMessageBox=1' \
  'ShowMessageBoxWhenSilent=1'
settings extract '[Package]' 'ProductName=Workflow Test' '[Extraction]' \
  'SpecifiedExtractFolder=1' 'TargetParentFolderType=0' 'TargetFolderName=Extracted' \
  'OpenExtractFolder=0'
settings unnamed '[Extraction]' 'SpecifiedExtractFolder=1' 'TargetParentFolderType=0'
settings badparent '[Extraction]' 'SpecifiedExtractFolder=1' 'TargetParentFolderType=7'
settings elevated '[Package]' 'ProductName=Workflow Test' '[Execution_x86]' 'FileName=setup.cmd' \
  'ForceElevation=1' '[Execution_x64]' 'FileName=setup.cmd' 'ForceElevation=1'

make() {  # output, settings, payload folder, then more quarrypack options
  local output=$1 ini=$2 payload=$3
  shift 3
  "$pack" create --stub "$stub" --settings "$out/src/$ini.ini" --payload "$payload" \
    -o "$out/$output" "$@" >/dev/null
}
make basic.exe basic "$out/src/payload"
make message.exe message "$out/src/payload"
make tervo.exe tervo "$out/src/payload"
make extract.exe extract "$out/src/payload"
make Setup.exe unnamed "$out/src/payload"
# quarrypack refuses the parent type 7; the test needs the program's answer.
make badparent.exe badparent "$out/src/payload" --force
make nopayload.exe basic "$out/src/empty"
make elevated.exe elevated "$out/src/payload"

# Symbolic links for the tests that plant one in a run's tree or make one
# the work root. The Wine test process cannot start a Linux program, and
# Wine's CreateSymbolicLinkW makes nothing, so they are made here. Each test has
# its own set, made afresh before every run.
links="$out/links"
user_folder() {  # a folder of the user's, with a file at two depths
  mkdir -p "$1/inner"
  printf 'mine\r\n' > "$1/mine.txt"
  printf 'deep\r\n' > "$1/inner/deep.txt"
}
user_folder "$links/cleanup/user"
mkdir -p "$links/cleanup/tree/sub"
printf 'a\r\n' > "$links/cleanup/tree/a.txt"
printf 'b\r\n' > "$links/cleanup/tree/sub/b.txt"
ln -s "$links/cleanup/user" "$links/cleanup/tree/folderlink"
ln -s "$links/cleanup/user" "$links/cleanup/tree/sub/deeplink"
# Wine renames what a link points at, not the link, so this one comes in a
# real folder, "slot", that the test puts in place of the extracted "sub".
user_folder "$links/run/user"
mkdir -p "$links/run/Temp" "$links/run/slot"
printf 'blob\r\n' > "$links/run/slot/blob.bin"
ln -s "$links/run/user" "$links/run/slot/deeper"
user_folder "$links/access/user"
mkdir -p "$links/access/tree/sub"
printf 'a\r\n' > "$links/access/tree/a.txt"
ln -s "$links/access/user" "$links/access/tree/sub/link"
mkdir -p "$links/root/Temp" "$links/root/elsewhere"
ln -s "$links/root/elsewhere" "$links/root/Temp/QuarryTool"
echo "packages in $out"
