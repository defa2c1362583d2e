#!/bin/sh
# Runs a Windows program under Wine with the build's private prefix, quietly.
# The prefix defaults to wineprefix/ beside the program's folder.
set -e
program_dir=$(cd "$(dirname "$1")" && pwd)
: "${WINEPREFIX:=$(dirname "$program_dir")/wineprefix}"
: "${WINEDEBUG:=-all}"
# No Mono or Gecko install prompts when the prefix is made, and no debugger started on a crash.
: "${WINEDLLOVERRIDES:=mscoree,mshtml=;winedbg.exe=d}"
# Where 32-bit code runs through qemu-i386, a bounded guest address space makes each start seconds, not minutes.
: "${QEMU_RESERVED_VA:=0x84000000}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES QEMU_RESERVED_VA

# A process that Wine starts on the program's behalf (the desktop, a device host) inherits the program's output and
# can outlive it. Were that output ctest's pipe, ctest would wait for that process to end before it counted the
# program as done. So the program writes to a file, passed on once the program has ended.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
run() {
    status=0
    wine "$@" >"$output" 2>&1 || status=$?
    cat "$output"
}
run "$@"
# A Wine server that crashes under another program takes this one down with it, and Wine may still report success;
# where qemu-i386 runs the program, the emulation itself at times brings it down where Wine cannot catch the fault
# ("uncaught target signal"). Either way the program did not run to its end, so it runs once more from the start.
platform_fault='^wine client error|^qemu: uncaught target signal'
if grep -Eq "$platform_fault" "$output"; then
    echo "run_with_wine: Wine's server or the emulation went away under the program; running it once more"
    run "$@"
    if grep -Eq "$platform_fault" "$output"; then
        echo "run_with_wine: Wine's server or the emulation went away under the program again"
        [ "$status" -ne 0 ] || status=1
    fi
fi
# A test program that says nothing of its tests' outcome did not run them, whatever its status.
case " $* " in
*" --gtest_"*)
    if [ "$status" -eq 0 ] && ! grep -q '^\[  PASSED  \]' "$output"; then
        echo "run_with_wine: the test program ended without its tests' summary"
        status=1
    fi
    ;;
esac
exit "$status"
