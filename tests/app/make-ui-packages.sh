#!/usr/bin/env bash
# Packs the packages that the user-interface tests start as separate
# processes, with the shipped quarrypack and quarry.exe.
# Usage: make-ui-packages.sh QUARRYPACK QUARRY_EXE OUTDIR TESTPROG
set -euo pipefail
pack=$1
stub=$2
out=$3
testprog=$4
rm -rf "$out"
mkdir -p "$out/src/payload"
printf 'readme\r\n' > "$out/src/payload/readme.txt"
head -c 2000000 /dev/urandom > "$out/src/payload/data.bin"

source "$(dirname "$0")/../common/pack-settings.sh"
settings basic '[Package]' 'ProductName=Quarry UI Test' 'WindowTitle=Quarry UI Test Window'
# A payload said to be far larger than any disk: the free-space check fails
# before anything is extracted.
settings nospace '[Package]' 'ProductName=Quarry UI Test' 'WindowTitle=Quarry UI Test Window' \
  'TotalFileSize=9000000000000000'
settings okonly '[Package]' 'ProductName=Quarry UI Product' '[Message]' 'ShowMessageBox=1' \
  'DialogButtonType=1'
settings okcancel '[Package]' 'ProductName=Quarry UI Product' '[Message]' 'ShowMessageBox=1' \
  'DialogButtonType=0'
# A product name of 51 characters: the folder prompt shows its first 47.
settings select '[Package]' 'ProductName=Quarry Folder Selection Test Product Name 012345678' \
  '[Extraction]' 'SpecifiedExtractFolder=1' 'SelectExtractFolder=1' 'TargetParentFolderType=0' \
  'TargetFolderName=Chosen'
# Restrictions, against Wine's Windows 6.1 build 7601 service pack 1 and its
# WMI manufacturer "The Wine Project".
settings os-above '[Package]' 'ProductName=Quarry UI Test' '[Restriction]' 'OSVersionMin=0x60002'
settings os-equal '[Restriction]' 'OSVersionMin=0x60001' 'OSBuildMin=0x1DB10000'
settings os-build '[Package]' 'WindowTitle=Quarry UI Test Window' '[Restriction]' \
  'OSVersionMin=0x60001' 'OSBuildMin=0x1DB20000'
settings os-below '[Restriction]' 'OSVersionMin=0x50001' 'OSBuildMin=0x7FFFFFFF'
settings maker '[Restriction]' 'CheckManufacturer=1' 'ManufacturerName=Norvik Corporation'
settings wine '[Restriction]' 'CheckManufacturer=1' 'ManufacturerName=The Wine Project'
settings wine-case '[Package]' 'WindowTitle=Quarry UI Test Window' '[Restriction]' \
  'CheckManufacturer=1' 'ManufacturerName=the wine project'

# Packages that run something: the test program and a command script.
mkdir -p "$out/src/run"
cp "$testprog" "$out/src/run/testprog.exe"
printf '@echo off\r\nexit /b 7\r\n' > "$out/src/run/Exit Seven.CMD"
# Writes its arguments, in brackets so that none is no blank, the folder it
# runs in and the processor its cmd.exe runs as into the folder above its
# own: the extracted tree is locked against writing.
printf '@echo off\r\necho [%%*]>"%%~dp0..\\args.txt"\r\ncd>"%%~dp0..\\cwd.txt"\r\n%s\r\nexit /b 8\r\n' \
  'echo %PROCESSOR_ARCHITECTURE%>"%~dp0..\arch.txt"' > "$out/src/run/Write Args.cmd"
settings run-exit '[Execution_x86]' 'FileName=testprog.exe' 'Options=exit 42' 'WaitMode=1' \
  'WaitTimeout=5' '[Execution_x64]' 'FileName=testprog.exe' 'Options=exit 42'
settings run-sleep '[Execution_x86]' 'FileName=testprog.exe' 'Options=sleep 30000 5' \
  '[Execution_x64]' 'FileName=testprog.exe' 'Options=sleep 30000 5'
# Runs long enough for a test to close the window while it runs.
settings run-short '[Execution_x86]' 'FileName=testprog.exe' 'Options=sleep 3000 23' \
  '[Execution_x64]' 'FileName=testprog.exe' 'Options=sleep 3000 23'
settings run-cmd '[Execution_x86]' 'FileName=Exit Seven.CMD' '[Execution_x64]' 'FileName=Exit Seven.CMD'
# Extracts beside the program into "Setup", and on a second run into the
# shell's next free name, "Setup (2)".
settings run-cmd-setup '[Extraction]' 'SpecifiedExtractFolder=1' 'TargetParentFolderType=0' \
  'TargetFolderName=Setup' 'OpenExtractFolder=0' \
  '[Execution_x86]' 'FileName=Write Args.cmd' '[Execution_x64]' 'FileName=Write Args.cmd'
settings run-elevated '[Execution_x86]' 'FileName=testprog.exe' 'Options=exit 42' 'ForceElevation=1' \
  '[Execution_x64]' 'FileName=testprog.exe' 'Options=exit 42' 'ForceElevation=1'
# The record's path comes from the test, through the environment.
args="args %QUARRY_ARGS_RECORD% %QUARRYTOOLROOT% \"100% sure|x\""
settings run-args '[Package]' 'TervoUpdateMode=0' '[Execution_x86]' 'FileName=testprog.exe' \
  "Options=$args" 'AdditionalOptionsForSilentMode=/silent' \
  '[Execution_x64]' 'FileName=testprog.exe' "Options=$args" 'AdditionalOptionsForSilentMode=/silent'

cat > "$out/src/plain.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<MessageInfo>
  <ja-JP><Title>日本語の題名</Title><Message>日本語のメッセージ</Message></ja-JP>
  <en-US><Title>English title</Title><Message>English message</Message></en-US>
</MessageInfo>
XML
# Only the root is namespaced: "Title" and "Message" are then looked up in
# the whole document and the first ones, the English, are found.
cat > "$out/src/namespaced.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<bk:MessageInfo xmlns:bk="urn:quarry:messages">
  <en-US><bk:Title>Namespaced title</bk:Title><bk:Message>Namespaced message</bk:Message></en-US>
  <ja-JP><bk:Title>名前空間の題名</bk:Title><bk:Message>名前空間のメッセージ</bk:Message></ja-JP>
</bk:MessageInfo>
XML

make() {  # output, settings, then more quarrypack options
  local output=$1 ini=$2
  shift 2
  "$pack" create --stub "$stub" --settings "$out/src/$ini.ini" --payload "$out/src/payload" \
    -o "$out/$output" "$@" >/dev/null
}
now=$(date -u +%s)
day=86400
today=$((now - now % day))
make basic.exe basic
make nospace.exe nospace --time $((now - 3600))
make nospace-old.exe nospace --time $((now - 8 * day))
make nospace-future.exe nospace --time $((now + 2 * day))
# 23:59 UTC six days before today: the window ends at 00:00 tomorrow. The
# same time seven days before today: it ended at 00:00 today.
make nospace-edge-in.exe nospace --time $((today - 6 * day + 86340))
make nospace-edge-out.exe nospace --time $((today - 7 * day + 86340))
make select.exe select
# The program file's version block and icon set by create: a product name of
# its own over the settings' one, and an icon of one 16x16 image.
perl -e 'my $w = 16;
         my $dib = pack("VVVvvVVVVVV", 40, $w, 2 * $w, 1, 32, 0, 0, 0, 0, 0, 0)
                   . ("\x20\x40\x80\xff" x ($w * $w)) . ("\0" x (4 * $w));
         print pack("vvv", 0, 1, 1), pack("CCCCvvVV", $w, $w, 0, 0, 1, 32, length($dib), 22), $dib' \
  > "$out/src/product.ico"
make product.exe basic --product-name "Contoso Driver" --company "Contoso Ltd" \
  --file-version 2.3.4.5 --icon "$out/src/product.ico"
for name in os-above os-equal os-build os-below maker wine wine-case; do
  make "$name.exe" "$name"
done
for name in run-exit run-sleep run-short run-cmd run-cmd-setup run-elevated run-args; do
  "$pack" create --stub "$stub" --settings "$out/src/$name.ini" --payload "$out/src/run" \
    -o "$out/$name.exe" >/dev/null
done
# Signed after packing, as users sign, by a self-signed certificate made
# here: Wine's trust check looks at the digest only. One byte of the package
# flipped after signing breaks the digest.
settings signed '[Restriction]' 'CheckDigitalSignature=1' \
  'DigitalSignatureSignerName=Norvik Corporation'
settings signed-case '[Restriction]' 'CheckDigitalSignature=1' \
  'DigitalSignatureSignerName=norvik corporation'
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Norvik Corporation" -days 30 \
  -keyout "$out/src/sign-key.pem" -out "$out/src/sign-cert.pem" 2>/dev/null
# Its version block and icon rewritten before signing, as a release would be.
make signed-unsigned.exe signed --product-name "Norvik Signed Update" --icon "$out/src/product.ico"
make unsigned-case.exe signed-case
sign() {  # input, output
  osslsigncode sign -certs "$out/src/sign-cert.pem" -key "$out/src/sign-key.pem" \
    -n "Quarry test" -in "$out/$1" -out "$out/$2" >/dev/null
}
sign signed-unsigned.exe signed.exe
sign unsigned-case.exe signed-case.exe
cp "$out/signed.exe" "$out/signed-flipped.exe"
perl -e 'open my $f, "+<", $ARGV[0] or die; binmode $f; seek $f, $ARGV[1], 0;
         read $f, my $c, 1; seek $f, $ARGV[1], 0; print $f chr(ord($c) ^ 0xFF)' \
  "$out/signed-flipped.exe" $(( $(stat -c %s "$out/signed-unsigned.exe") - 1000 ))
# A small file ahead of a large one, extracted to a known folder beside the
# program: a test changes the small one while the large one is written.
mkdir -p "$out/src/changing"
printf 'original\r\n' > "$out/src/changing/a-first.txt"
head -c 48000000 /dev/urandom > "$out/src/changing/z-big.bin"
settings changing '[Extraction]' 'SpecifiedExtractFolder=1' 'TargetParentFolderType=0' \
  'TargetFolderName=Changed' 'OpenExtractFolder=0'
"$pack" create --stub "$stub" --settings "$out/src/changing.ini" --payload "$out/src/changing" \
  --compression none -o "$out/changing.exe" >/dev/null
make message-okonly.exe okonly --message "$out/src/plain.xml"
make message-okcancel.exe okcancel --message "$out/src/plain.xml"
make message-namespaced.exe okcancel --message "$out/src/namespaced.xml"
# The pre-execution message before the test program: a test rewrites the
# program while the message is shown.
settings run-message '[Message]' 'ShowMessageBox=1' 'DialogButtonType=1' \
  '[Execution_x86]' 'FileName=testprog.exe' 'Options=exit 42' \
  '[Execution_x64]' 'FileName=testprog.exe' 'Options=exit 42'
"$pack" create --stub "$stub" --settings "$out/src/run-message.ini" --payload "$out/src/run" \
  --message "$out/src/plain.xml" -o "$out/run-message.exe" >/dev/null
# The changing package extracted beside the program under the name the
# program file gives: a test saves it as ".exe" and makes the run fail.
settings changing-unnamed '[Extraction]' 'SpecifiedExtractFolder=1' 'TargetParentFolderType=0' \
  'OpenExtractFolder=0'
"$pack" create --stub "$stub" --settings "$out/src/changing-unnamed.ini" \
  --payload "$out/src/changing" --compression none -o "$out/changing-unnamed.exe" >/dev/null
# An extract folder name of 100 characters: below a deep folder, the path is
# too long for the shell to make a unique name from.
settings long-name '[Extraction]' 'SpecifiedExtractFolder=1' 'TargetParentFolderType=0' \
  "TargetFolderName=$(printf 'L%.0s' $(seq 1 100))" 'OpenExtractFolder=0'
"$pack" create --stub "$stub" --settings "$out/src/long-name.ini" --payload "$out/src/payload" \
  -o "$out/long-name.exe" >/dev/null
# The same with a command script to start ahead of the large file: a test
# rewrites the script, keeping its size, while the large file is written.
mkdir -p "$out/src/changing-run"
printf '@exit /b 5\r\n' > "$out/src/changing-run/a-run.cmd"
cp "$out/src/changing/z-big.bin" "$out/src/changing-run/"
settings changing-run '[Extraction]' 'SpecifiedExtractFolder=1' 'TargetParentFolderType=0' \
  'TargetFolderName=Changed' 'OpenExtractFolder=0' \
  '[Execution_x86]' 'FileName=a-run.cmd' '[Execution_x64]' 'FileName=a-run.cmd'
"$pack" create --stub "$stub" --settings "$out/src/changing-run.ini" \
  --payload "$out/src/changing-run" --compression none -o "$out/changing-run.exe" >/dev/null
# LZX folders (window 2^21) that the platform's decompressor expands: the
# test program and more than two windows of x86 code (Wine's own DLLs where
# installed, else copies of the test program), so that matches reach across
# the whole window and CALL operands are translated; extracted beside the
# program into "Lzx" and run.
mkdir -p "$out/src/run-lzx"
cp "$testprog" "$out/src/run-lzx/testprog.exe"
wine_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
if [ -f "$wine_dlls/shell32.dll" ]; then
  head -c 6000000 "$wine_dlls/shell32.dll" > "$out/src/run-lzx/code.bin"
fi
while [ "$(stat -c %s "$out/src/run-lzx/code.bin" 2>/dev/null || echo 0)" -lt 5000000 ]; do
  cat "$testprog" >> "$out/src/run-lzx/code.bin"
done
settings run-lzx '[Extraction]' 'SpecifiedExtractFolder=1' 'TargetParentFolderType=0' \
  'TargetFolderName=Lzx' 'OpenExtractFolder=0' \
  '[Execution_x86]' 'FileName=testprog.exe' 'Options=exit 42' \
  '[Execution_x64]' 'FileName=testprog.exe' 'Options=exit 42'
"$pack" create --stub "$stub" --settings "$out/src/run-lzx.ini" --payload "$out/src/run-lzx" \
  --compression lzx -o "$out/run-lzx.exe" >/dev/null
echo "packages in $out"
