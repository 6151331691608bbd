#!/bin/sh
# The tool's console mode end to end: the lines it prints, its messages on standard error
# and its exit statuses. Usage: console_test.sh PINGTOOL [SILENT_HOST UNREACHABLE_HOST]
# Raw ICMP sockets need root; without it only the refusals are checked. A Windows build
# runs with CONSOLE_TEST_RUNNER=scripts/wine-run; its lines end in CR LF.
set -u
tool=$1
silent=${2:-}
unreachable=${3:-}
. "$(dirname "$0")/console_checks.sh"


run() {
    ${CONSOLE_TEST_RUNNER:-} "$tool" "$@" >"$out.raw" 2>"$err.raw"
    status=$?
    tr -d '\r' <"$out.raw" >"$out"
    tr -d '\r' <"$err.raw" >"$err"
    rm -f "$out.raw" "$err.raw"
    echo $status
}

status=$(run --console localhost)
check "a host name is refused" [ "$status" = 2 ]
check "the refusal is explained" grep -q 'is not a dotted IPv4 address' "$err"
status=$(run --console "")
check "an empty host is refused" [ "$status" = 2 ]
status=$(run --help)
check "help" [ "$status" = 0 ]
check "help names the console mode" grep -q -- '--console HOST' "$out"
status=$(run --console 127.0.0.1 --count)
check "a count without its number" [ "$status" = 2 ]

if [ "$(id -u)" = 0 ]; then
    status=$(run --console 127.0.0.1)
    check "count 10 pings eleven times" [ "$(grep -c '^127\.0\.0\.1 : OK ，time=[0-9]*ms$' "$out")" = 11 ]
    check "nothing but reply lines" [ "$(wc -l <"$out")" = 11 ]
    check "replies give status 0" [ "$status" = 0 ]
    status=$(run --console 127.0.0.1 --count 3)
    check "a count below 10 counts as 10" [ "$(wc -l <"$out")" = 11 ]
    status=$(run --console 127.0.0.1 --count 12)
    check "count 12 pings thirteen times" [ "$(wc -l <"$out")" = 13 ]
    # Ctrl+C (SIGINT; on Windows the console's Ctrl+C event) ends a long run at once.
    ${CONSOLE_TEST_RUNNER:-} "$tool" --console 127.0.0.1 --count 1000 >"$out.raw" 2>"$err" &
    pid=$!
    sleep 1
    started=$(date +%s)
    kill -INT "$pid"
    (sleep 10 && kill -KILL "$pid") >/dev/null 2>&1 &
    watchdog=$!
    wait "$pid"
    ended=$(date +%s)
    kill "$watchdog" 2>/dev/null
    tr -d '\r' <"$out.raw" >"$out"
    rm -f "$out.raw"
    check "Ctrl+C ends the run within 2 seconds" [ $((ended - started)) -le 2 ]
    check "Ctrl+C stops the pings" [ "$(wc -l <"$out")" -lt 1001 ]
    if [ -n "$silent" ]; then
        status=$(run --console "$silent")
        check "a silent host prints no line" [ ! -s "$out" ]
        check "its time-out goes to standard error" grep -qx '301: Timeout.' "$err"
        check "no reply gives status 1" [ "$status" = 1 ]
    fi
    if [ -n "$unreachable" ]; then
        status=$(run --console "$unreachable")
        check "an unreachable host prints its answer" \
            grep -q "^$unreachable : Host unreachable\. ，time=[0-9]*ms\$" "$out"
        check "the error ends the run" grep -qx '127: Host unreachable.' "$err"
        check "an unreachable answer is no reply: status 1" [ "$status" = 1 ]
    fi
else
    echo "console_test: not root, raw ICMP sockets need root; the pings are not checked"
fi

summary
