#!/bin/sh
# The tool's console mode under faults: a run interrupted by a signal, and the descriptor
# limit lowered until the socket (or before it, anything else) cannot be had. Every run
# must end by itself with the tool's own status and messages: no crash, no sanitizer
# report. Usage: console_fault_test.sh PINGTOOL [SILENT_HOST] [plain|sanitized]
# A sanitised tool skips the descriptor limits: UBSan checks a dynamic type it has not
# seen by probing memory through a pipe, and without spare descriptors that probe fails
# and reports every virtual call as an "invalid vptr". valgrind_console.sh runs the
# limits on the plain tool, with valgrind watching for errors and leaks.
# Raw ICMP sockets need root; without it the test skips (status 77).
set -u
tool=$1
silent=${2:-}
build=${3:-plain}
. "$(dirname "$0")/console_checks.sh"

if [ "$(id -u)" != 0 ]; then
    echo "console_fault_test: not root, raw ICMP sockets need root"
    exit 77
fi


no_sanitizer_report() { ! grep -q 'Sanitizer' "$err"; }

# interrupted SIGNAL HOST: starts a long run, sends SIGNAL after a second, and records
# the status and how many milliseconds the tool took to end after the signal.
interrupted() {
    "$tool" --console "$2" --count 1000 >"$out" 2>"$err" &
    pid=$!
    sleep 1
    kill -s "$1" "$pid"
    sent=$(date +%s%N)
    wait "$pid"
    status=$?
    ended=$(( ($(date +%s%N) - sent) / 1000000 ))
}

# A run of 1000 pings to loopback (about 100 s) ends at the signal: the lines so far and
# the statistics, status 0 because replies came, within half a second.
for signal in INT TERM; do
    interrupted "$signal" 127.0.0.1
    lines=$(grep -c '^127\.0\.0\.1 : OK ，time=[0-9]*ms$' "$out")
    check "SIG$signal: replies before it" [ "$lines" -ge 3 ] && [ "$lines" -lt 1000 ]
    check "SIG$signal: then the statistics" \
        grep -q "^[0-9]* packets transmitted, $lines received, " "$out"
    check "SIG$signal: status 0" [ "$status" = 0 ]
    check "SIG$signal: ends at once ($ended ms)" [ "$ended" -lt 500 ]
    check "SIG$signal: no sanitizer report" no_sanitizer_report
done

# During the wait for a silent host the signal ends the wait, not its 3-second deadline.
if [ -n "$silent" ]; then
    interrupted INT "$silent"
    check "silent host, SIGINT: no line" [ "$(grep -c ' : ' "$out")" = 0 ]
    check "silent host, SIGINT: the wait was interrupted" grep -qx '301: Interrupted.' "$err"
    check "silent host, SIGINT: status 1" [ "$status" = 1 ]
    check "silent host, SIGINT: ends at once ($ended ms)" [ "$ended" -lt 500 ]
fi

# Descriptor limits from 3 up: too few to start the program, to map the engine (-1), to
# make the thread's message queue, to make the socket (10024), and enough. Each run ends
# with status 0 (replies) or 1 (a message "CODE: TEXT" on standard error); only the
# system's loader may end one with 127 before the tool starts.
if [ "$build" = sanitized ]; then
    echo "console_fault_test: a sanitised tool; the descriptor limits are left to valgrind_console"
    summary
    exit
fi
socket_refused=0
for limit in 3 4 5 6 7 8 9 10 11 12 14 16; do
    sh -c "ulimit -n $limit && exec \"\$0\" --console 127.0.0.1" "$tool" >"$out" 2>"$err"
    status=$?
    case "$status" in
        0)
            check "limit $limit: eleven replies" [ "$(grep -c ' : OK ，time=' "$out")" = 11 ]
            ;;
        1)
            check "limit $limit: no reply line" [ "$(grep -c ' : ' "$out")" = 0 ]
            check "limit $limit: the reason on standard error" \
                grep -Eq '^(pingtool: )?-?[0-9]+: ' "$err"
            if grep -qx '10024: \[10024\] Too many open files' "$err"; then
                socket_refused=$((socket_refused + 1))
            fi
            ;;
        127)
            check "limit $limit: only the system loader gives up" \
                grep -q 'error while loading shared libraries' "$err"
            ;;
        *)
            check "limit $limit: status $status is the tool's own" false
            ;;
    esac
    check "limit $limit: no sanitizer report" no_sanitizer_report
done
check "some limit leaves no descriptor for the socket: 10024 ends the run" \
    [ "$socket_refused" -ge 1 ]

summary
