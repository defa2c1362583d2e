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

# The prefix's Wine server works in a folder named after the prefix's device and inode; its process is found by that.
mkdir -p "$WINEPREFIX"
server_folder="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
wine_server() {
    for process in /proc/[0-9]*; do
        case $(readlink "$process/exe" 2>/dev/null) in
        */wineserver*)
            [ "$(basename "$(readlink "$process/cwd" 2>/dev/null)")" = "$server_folder" ] && echo "${process#/proc/}"
            ;;
        esac
    done
    return 0
}

# A process that Wine starts on the program's behalf (the desktop, a device host) inherits the program's output and
# can outlive it. Were that output ctest's pipe, ctest would wait for that process to end before it counted the
# program as done. So the program writes to a file, passed on once the program has ended.
# The program runs in a session of its own, so that it can be ended with every process it started when the Wine
# server goes away under it: its clients then may wait for ever rather than fail.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
run() {
    status=0
    setsid wine "$@" >"$output" 2>&1 &
    program=$!
    server=""
    while kill -0 "$program" 2>/dev/null; do
        sleep 1
        now=$(wine_server)
        if [ -z "$server" ]; then
            server=$now
        elif [ "$now" != "$server" ]; then
            kill -KILL "-$program" 2>/dev/null || true
            echo "wine client error: the Wine server $server ended while the program ran" >>"$output"
            break
        fi
    done
    wait "$program" || status=$?
    cat "$output"
}
run "$@"
# A Wine server that crashes under another program takes this one down with it, and Wine may still report success;
# where qemu-i386 runs the program, the emulation itself at times brings it down where Wine cannot catch the fault
# ("uncaught target signal"). Either way the program did not run to its end, so it runs once more from the start.
platform_fault='^wine client error|^qemu: uncaught target signal|wineserver crashed'
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
