#!/usr/bin/env bash
# Checks of the Windows deliverables under Wine, run by `make test-windows` after both cross builds:
#  1. Ostrelin.dll exports exactly the names the public header declares, all of them specified ones,
#     unmangled; it and launcher.exe import only Windows system DLLs; launcher.exe is a 32-bit GUI
#     program whose manifest asks for administrator rights.
#  2. The Windows platform layer's own checks pass under 64-bit Wine.
#  3. The test host loads Ostrelin.dll, resolves every export by name and runs the rendering-road jobs;
#     their streams equal, byte for byte, the Linux library's streams for the same jobs.
#  4. The same random integer polygons filled with GDI under Wine and with the Linux rasteriser are
#     equal pixel by pixel.
#  5. launcher.exe under 32-bit Wine picks the installer folder of the reported Windows version, passes
#     its arguments on and writes "UMPDSecurityLevel" in the 64-bit registry view only where it should.
# Every check reads what the programs wrote; exit statuses alone prove nothing under Wine.
# Usage: run_windows_tests.sh SOURCE_DIR LINUX_BUILD WIN64_BUILD WIN32_BUILD
set -euo pipefail

source_dir=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
win64_build=$(cd "$3" && pwd)
win32_build=$(cd "$4" && pwd)

work="$win64_build/wine-checks"
export WINEPREFIX="$win64_build/wine-prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export LC_ALL=C.UTF-8
export DISPLAY=
wine_timeout=120

failures=0
pass() { echo "PASS $*"; }
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
# A Unix path as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
run_wine() { timeout "$wine_timeout" wine "$@"; }
finish() { timeout 30 wineserver -k >/dev/null 2>&1 || true; }
trap finish EXIT

dll="$win64_build/bin/Ostrelin.dll"
launcher="$win32_build/bin/launcher.exe"
standin="$win32_build/bin/Install.exe"
for file in "$dll" "$win64_build/bin/ostrelin_win_host.exe" "$win64_build/bin/ostrelin_win_platform_check.exe" \
  "$win64_build/bin/ostrelin_polygon_crosscheck.exe" "$launcher" "$standin" "$linux_build/bin/ostrelin_win_reference" \
  "$linux_build/bin/ostrelin_polygon_crosscheck"; do
  [ -f "$file" ] || { echo "missing $file: build the targets windows and ostrelin_win_reference first"; exit 1; }
done
[ -x /usr/lib/wine/wine ] || { echo "32-bit Wine (wine32:i386) is not installed"; exit 1; }

rm -rf "$work" "$WINEPREFIX"
mkdir -p "$work"
started=$(date +%s)
timeout 180 wineboot -i >/dev/null 2>&1 || { echo "the Wine prefix could not be made"; exit 1; }
echo "Wine prefix ready in $(($(date +%s) - started)) s"

# 1. The binaries.
objdump64=x86_64-w64-mingw32-objdump
objdump32=i686-w64-mingw32-objdump
$objdump64 -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' |
  sort >"$work/exported.txt"
sed -n 's/^OSTRELIN_API [^(]*[ *]\([A-Za-z_][A-Za-z0-9_]*\)(.*/\1/p' "$source_dir/include/ostrelin/ostrelin.h" |
  sort >"$work/declared.txt"
if [ -s "$work/declared.txt" ] && cmp -s "$work/exported.txt" "$work/declared.txt"; then
  pass "Ostrelin.dll exports exactly the $(wc -l <"$work/declared.txt") names of the public header"
else
  fail "Ostrelin.dll exports differ from the header: $(diff "$work/declared.txt" "$work/exported.txt" | tr '\n' ' ')"
fi
# (Outputs are taken whole before grep: grep -q may stop reading early, which pipefail counts as a failure.)
dll_format=$($objdump64 -f "$dll")
launcher_format=$($objdump32 -f "$launcher")
launcher_headers=$($objdump32 -p "$launcher")
if grep -q 'file format pei-x86-64' <<<"$dll_format"; then pass "Ostrelin.dll is 64-bit"; else fail "Ostrelin.dll is not 64-bit"; fi
if grep -q 'file format pei-i386' <<<"$launcher_format" && grep -q 'Subsystem.*Windows GUI' <<<"$launcher_headers"; then
  pass "launcher.exe is a 32-bit GUI program"
else
  fail "launcher.exe is not a 32-bit GUI program"
fi
if grep -aq 'level="requireAdministrator" uiAccess="false"' "$launcher"; then
  pass "launcher.exe carries the requireAdministrator manifest"
else
  fail "launcher.exe has no requireAdministrator manifest"
fi
for module in "$dll" "$launcher"; do
  imports=$($objdump64 -p "$module" 2>/dev/null | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
  [ -n "$imports" ] || imports=$($objdump32 -p "$module" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
  if [ -n "$imports" ] && ! grep -Eiq 'lib[a-z_+-]*[0-9]*\.dll|pthread' <<<"$imports"; then
    pass "$(basename "$module") imports system DLLs only: $imports"
  else
    fail "$(basename "$module") imports a runtime DLL: $imports"
  fi
done

# 2. The Windows platform layer.
run_wine "$win64_build/bin/ostrelin_win_platform_check.exe" "$(winpath "$work/platform_check.txt")" \
  "$(winpath "$work/platform-scratch")" >/dev/null 2>&1 || true
if [ -f "$work/platform_check.txt" ] && grep -qx 'done 0 failures' "$work/platform_check.txt"; then
  pass "platform layer: $(grep -c '^PASS' "$work/platform_check.txt") checks under Wine"
else
  fail "platform layer checks:"
  grep -v '^PASS' "$work/platform_check.txt" 2>/dev/null || echo "  (no result file)"
fi

# 3. The rendering-road jobs through the DLL and through the Linux library.
mkdir -p "$work/windows" "$work/linux"
started=$(date +%s)
run_wine "$win64_build/bin/ostrelin_win_host.exe" "$(winpath "$dll")" "$(winpath "$work/windows")" \
  "$(winpath "$work/windows-scratch")" >/dev/null 2>&1 || true
echo "Windows host ran in $(($(date +%s) - started)) s"
"$linux_build/bin/ostrelin_win_reference" "$work/linux" "$work/linux-scratch" || true
if [ -f "$work/windows/exports.txt" ]; then
  while read -r name; do
    grep -qx "$name	resolved" "$work/windows/exports.txt" || fail "the host could not resolve $name"
  done <"$work/declared.txt"
  while read -r name; do
    grep -q "^$name	" "$work/windows/exports.txt" || fail "$name is exported but not a specified export"
  done <"$work/exported.txt"
  pass "the host resolved by name: $(grep -c '	resolved$' "$work/windows/exports.txt") exports"
else
  fail "the host wrote no export list"
fi
for side in windows linux; do
  if [ ! -f "$work/$side/report.txt" ]; then
    fail "$side: no job report"
  elif grep -v '	ok	' "$work/$side/report.txt" >"$work/$side/problems.txt"; then
    fail "$side: $(tr '\n' ' ' <"$work/$side/problems.txt")"
  fi
done
jobs=0
while IFS='	' read -r name state bytes; do
  [ "$state" = ok ] || continue
  jobs=$((jobs + 1))
  if cmp "$work/linux/$name.job" "$work/windows/$name.job"; then
    pass "$name: $bytes bytes, identical"
  else
    fail "$name: the Windows stream differs from the Linux stream"
  fi
done <"$work/linux/report.txt"
[ "$jobs" -gt 0 ] || fail "no job was compared"

# 4. Polygon fills: GDI under Wine against the Linux rasteriser.
run_wine "$win64_build/bin/ostrelin_polygon_crosscheck.exe" write "$(winpath "$work/polygons.txt")" >/dev/null 2>&1 || true
if "$linux_build/bin/ostrelin_polygon_crosscheck" compare "$work/polygons.txt" >"$work/polygons-compared.txt"; then
  pass "polygon fills: $(tail -n 1 "$work/polygons-compared.txt")"
else
  fail "polygon fills differ between GDI and the Linux rasteriser:"
  head -n 60 "$work/polygons-compared.txt"
fi

# 5. The launcher, in a folder tree with a stand-in installer in every version folder. The tree's path
# has no spaces: when Wine resolves an unquoted program path that contains spaces, it hands the new
# process its command line with that path quoted, which Windows does not do.
tree="$work/launcher-tree"
for folder in Win_Xp Win_Vista Win_7 Win_8; do
  mkdir -p "$tree/$folder/Systems"
  cp "$standin" "$tree/$folder/Systems/Install.exe"
done
cp "$launcher" "$tree/launcher.exe"
key='Software\Microsoft\Windows NT\CurrentVersion\Windows'
# The keys exist on Windows; the launcher passes over a key that does not open.
for view in 64 32; do run_wine reg add "HKLM\\$key" /reg:$view /f >/dev/null 2>&1; done
run_wine reg add "HKCU\\$key" /f >/dev/null 2>&1

# Sets the Windows version Wine reports (winxp, vista, win7, win10, win98, ...).
set_version() { run_wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1; }
# The security level in a hive and registry view: the data, or "none".
security_level() {
  run_wine reg query "$1\\$key" /v UMPDSecurityLevel "/reg:$2" 2>/dev/null |
    sed -n 's/.*UMPDSecurityLevel\s*REG_DWORD\s*//p' | tr -d '\r' | grep . || echo none
}
clear_security_level() {
  for hive in HKLM HKCU; do
    for view in 64 32; do run_wine reg delete "$hive\\$key" /v UMPDSecurityLevel "/reg:$view" /f >/dev/null 2>&1 || true; done
  done
}
# What the stand-in installers recorded, as "FOLDER:COMMAND LINE" in UTF-8, one per line.
recorded() {
  for record in "$tree"/*/Systems/command_line.txt; do
    [ -f "$record" ] || continue
    folder=$(basename "$(dirname "$(dirname "$record")")")
    printf '%s:%s\n' "$folder" "$(iconv -f UTF-16LE -t UTF-8 "$record")"
  done
}
# Runs the launcher with the Wine version and arguments, then checks the folder, the command line and
# the security level in both hives (64-bit view; never the 32-bit view of HKLM).
check_launcher() {
  local version=$1 folder=$2 level=$3
  shift 3
  rm -f "$tree"/*/Systems/command_line.txt
  clear_security_level
  set_version "$version"
  run_wine "$tree/launcher.exe" "$@" >/dev/null 2>&1 || true
  local got expected=""
  got=$(recorded)
  if [ -n "$folder" ]; then
    expected="$folder:$(winpath "$tree")\\$folder\\Systems\\Install.exe $ARGUMENTS_SEEN"
  fi
  if [ "$got" = "$expected" ]; then
    pass "launcher on $version: ${folder:-nothing started}${folder:+, command line as expected}"
  else
    fail "launcher on $version: expected [$expected] got [$got]"
  fi
  local hklm hkcu hklm32
  hklm=$(security_level HKLM 64)
  hkcu=$(security_level HKCU 64)
  hklm32=$(security_level HKLM 32)
  if [ "$hklm" = "$level" ] && [ "$hkcu" = "$level" ] && [ "$hklm32" = none ]; then
    pass "launcher on $version: UMPDSecurityLevel $level in both hives"
  else
    fail "launcher on $version: UMPDSecurityLevel HKLM=$hklm HKCU=$hkcu HKLM(32-bit view)=$hklm32, expected $level"
  fi
}
# Wine hands the arguments over in its ANSI code page (é is the byte 0xE9); the launcher widens each
# byte with sign extension, so é reaches the installer as U+FFE9.
ARGUMENTS_SEEN=$(printf '/S "dir=C:\\Program Files" x\357\277\251y')
check_launcher win10 Win_8 0x2 /S 'dir=C:\Program Files' 'xéy'
check_launcher win7 Win_7 0x2 /S 'dir=C:\Program Files' 'xéy'
check_launcher vista Win_Vista none /S 'dir=C:\Program Files' 'xéy'
ARGUMENTS_SEEN=""
check_launcher winxp Win_Xp none
check_launcher win98 "" none /S

echo "Windows checks: $failures failed"
[ "$failures" -eq 0 ]
