#!/usr/bin/env bash
# Makes the release archive with tools/package and checks it as a user gets it: exactly the files a user needs, the
# sum beside it, Windows line ends in the texts, the project's version in the DLL, one export, imports only of what
# travels with it or comes with Windows and the host, and the stand-in player playing the demo playlist to the exit
# text with the DLL from an unpacked copy in a folder of its own.
# usage: archive_test.sh SOURCE_DIR PROGRAM_DIR VERSION WORK_DIR
set -euo pipefail
source_dir=$1 program_dir=$2 version=$3 work=$4
objdump=i686-w64-mingw32-objdump
status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}
# A Unix path as Wine's Z: drive shows it.
windows_path() {
    printf 'Z:%s' "${1//\//\\}"
}

rm -rf "$work"
mkdir -p "$work"
# The TagLib the tests' build made, rather than a second build of it.
if ! VELMORA_TAGLIB_BUILT="$(dirname "$program_dir")/taglib" "$source_dir/tools/package" "$work/dist" \
    >"$work/package.log" 2>&1; then
    cat "$work/package.log" >&2
    exit 1
fi
name="velmora-$version-win32.zip"
archive="$work/dist/$name"
[ -f "$archive" ] || { echo "FAILED: no $name in $work/dist" >&2; exit 1; }

listing=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$archive")
expected=$(printf '%s\n' CHANGELOG.txt LICENSE.txt README.txt TAGLIB-LICENSE.txt TAGLIB.txt libgcc_s_dw2-1.dll \
    libwinpthread-1.dll velmora.dll)
[ "$listing" = "$expected" ] || fail "the archive holds:"$'\n'"$listing"
(cd "$work/dist" && sha256sum --check --quiet "$name.sha256") || fail "the sum file does not match the archive"
grep -Eq "^[0-9a-f]{64}  $name\$" "$work/dist/$name.sha256" || fail "the sum file is not in the form 'sum  filename'"

unpacked="$work/components"
python3 -m zipfile -e "$archive" "$unpacked"
for text in CHANGELOG.txt LICENSE.txt README.txt TAGLIB-LICENSE.txt TAGLIB.txt; do
    python3 -c 'import sys; data = open(sys.argv[1], "rb").read(); sys.exit(0 if data and data.count(b"\n") == data.count(b"\r\n") else 1)' \
        "$unpacked/$text" || fail "$text does not have Windows line ends throughout"
done

grep -q "Mozilla Public License" "$unpacked/TAGLIB-LICENSE.txt" || fail "TAGLIB-LICENSE.txt is not TagLib's MPL"
grep -Eq "source package taglib [0-9.]+-[^ ]+ " "$unpacked/TAGLIB.txt" || fail "TAGLIB.txt names no source package"
dll="$unpacked/velmora.dll"
resource_version=$(python3 - "$dll" <<'PYTHON'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    sys.exit("no version resource")
file_ms, file_ls = struct.unpack_from("<II", data, at + 8)
print("%d.%d.%d" % (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16))
PYTHON
)
[ "$resource_version" = "$version" ] || fail "the DLL's version resource says $resource_version, the project $version"

headers=$("$objdump" -p "$dll")
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {table = 1; next} table && NF == 0 {table = 0} table {print $NF}' <<<"$headers")
[ "$exports" = "kestrune_get_interface" ] || fail "the DLL exports:"$'\n'"$exports"
if "$objdump" -h "$dll" | grep -q '\.debug'; then
    fail "the DLL still carries debugging sections"
fi
system_dlls=' kernel32.dll user32.dll gdi32.dll advapi32.dll comctl32.dll comdlg32.dll shell32.dll ole32.dll version.dll msvcrt.dll ws2_32.dll '
while read -r imported; do
    lower=${imported,,}
    case "$lower" in
    shared.dll | libgcc_s_dw2-1.dll | libwinpthread-1.dll) ;;
    *) [[ "$system_dlls" == *" $lower "* ]] || fail "the DLL imports $imported" ;;
    esac
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")

output="$work/now-playing.txt"
run_log="$work/host.log"
if ! "$source_dir/cmake/run_with_wine.sh" "$program_dir/velmora-host.exe" --speed 25 \
    --dll "$(windows_path "$dll")" --playlist "$(windows_path "$source_dir/demo/demo-playlist.txt")" \
    --output "$(windows_path "$output")" >"$run_log" 2>&1; then
    fail "velmora-host failed with the unpacked DLL:"$'\n'"$(cat "$run_log")"
fi
grep -q "shut-down *not running" "$run_log" || fail "velmora-host did not play to the exit text:"$'\n'"$(cat "$run_log")"
[ "$(cat "$output" 2>/dev/null)" = $'\xEF\xBB\xBFnot running' ] || fail "the file does not hold the exit text"

[ "$status" -eq 0 ] && echo "the archive $name holds what a user needs, and plays"
exit "$status"
