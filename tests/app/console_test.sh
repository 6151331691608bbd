#!/bin/sh
# The tool's console mode end to end: the lines it prints, its statistics, its messages on
# standard error and its exit statuses. Usage:
#   console_test.sh PINGTOOL [SILENT_HOST UNREACHABLE_HOST]
# Raw ICMP sockets need root; without it only the refusals are checked. A Windows build
# runs with CONSOLE_TEST_RUNNER=scripts/wine-run; its lines end in CR LF, and Wine opens no
# raw ICMPv6 sockets.
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

# The statistics block: sent, received and the loss of the last run's output.
stats() {  # host sent received loss
    grep -qx -- "--- $1 ping statistics ---" "$out" &&
        grep -q "^$2 packets transmitted, $3 received, $4% packet loss, time [0-9]*ms\$" "$out"
}
lines() {  # pattern: the number of output lines that match it
    grep -c "$1" "$out"
}

# Refusals, with or without privileges: status 2 and a message naming what is wrong.
# name | expected message (grep) | arguments...
while IFS='|' read -r name message args; do
    [ -n "$name" ] || continue
    # shellcheck disable=SC2086
    status=$(eval run $args)
    check "$name: status 2" [ "$status" = 2 ]
    check "$name: says so" grep -q -- "$message" "$err"
done <<'ROWS'
a text that looks like dotted IPv4 keeps the window's rule|is not a dotted IPv4 address|--console 1.2.3
an empty host|no host given|--console ""
a count without its number|--count|--console 127.0.0.1 --count
a count of 0|--count|-c 0 127.0.0.1
a size that is no number|--size|-s abc 127.0.0.1
an unknown fragmentation setting|--pmtudisc|-M maybe 127.0.0.1
an IPv6 address with -4|-4 asks for IPv4|-4 ::1
an IPv4 address with -6|-6 asks for IPv6|-6 127.0.0.1
-4 and -6 together|-4|-4 -6 127.0.0.1
a name that does not resolve|^pingtool: no\.such\.host\.invalid: 1100[1-4]: |-c 1 no.such.host.invalid
ROWS
status=$(run --help)
check "help" [ "$status" = 0 ]
for option in --console --count --interval --size --ttl --timeout --pmtudisc -4 -6; do
    check "help names $option" grep -q -- "$option" "$out"
done

if [ "$(id -u)" = 0 ]; then
    status=$(run --console 127.0.0.1)
    check "defaults: eleven reply lines" [ "$(lines '^127\.0\.0\.1 : OK ，time=[0-9]*ms$')" = 11 ]
    check "defaults: the lines first, as the window shows them" \
        [ "$(head -n 11 "$out" | lines '^127\.0\.0\.1 : OK ')" = 11 ]
    check "defaults: statistics after them" stats 127.0.0.1 11 11 0
    check "defaults: the times" grep -q '^rtt min/avg/max/mdev = [0-9.]*/[0-9.]*/[0-9.]*/[0-9.]* ms$' "$out"
    check "defaults: status 0" [ "$status" = 0 ]
    check "defaults: nothing on standard error" [ ! -s "$err" ]

    # name | host in the lines (grep) | sent | arguments...
    while IFS='|' read -r name source sent args; do
        [ -n "$name" ] || continue
        case "$name" in *IPv6*) [ -n "${CONSOLE_TEST_RUNNER:-}" ] && continue ;; esac
        # shellcheck disable=SC2086
        status=$(run $args)
        host=$(echo "$args" | awk '{print $NF}')
        check "$name: $sent reply lines" [ "$(lines "^$source : OK ，time=[0-9]*ms\$")" = "$sent" ]
        check "$name: statistics" stats "$host" "$sent" "$sent" 0
        check "$name: status 0" [ "$status" = 0 ]
    done <<'ROWS'
a count sends that many|127\.0\.0\.1|3|-c 3 -i 0 127.0.0.1
a name is resolved once|127\.0\.0\.1|2|-c 2 -i 0 localhost
size, time to live, time-out and don't-fragment|127\.0\.0\.1|2|-c 2 -i 0.05 -s 100 -t 5 -W 0.5 -M do 127.0.0.1
an IPv6 address|::1|2|-c 2 -i 0 ::1
ROWS

    # Ctrl+C (SIGINT; on Windows the console's Ctrl+C event) ends a long run at once, with
    # its statistics.
    ${CONSOLE_TEST_RUNNER:-} "$tool" --console -c 1000 127.0.0.1 >"$out.raw" 2>"$err" &
    pid=$!
    sleep 1
    started=$(date +%s)
    kill -INT "$pid"
    (sleep 10 && kill -KILL "$pid") >/dev/null 2>&1 &
    watchdog=$!
    wait "$pid"
    status=$?
    ended=$(date +%s)
    kill "$watchdog" 2>/dev/null
    tr -d '\r' <"$out.raw" >"$out"
    rm -f "$out.raw"
    check "Ctrl+C ends the run within 2 seconds" [ $((ended - started)) -le 2 ]
    check "Ctrl+C stops the pings" [ "$(lines ' : OK ')" -lt 1000 ]
    check "Ctrl+C: the statistics still come" grep -q 'packets transmitted' "$out"
    check "Ctrl+C: the replies that came give status 0" [ "$status" = 0 ]

    if [ -n "$silent" ]; then
        status=$(run --console "$silent")
        check "a silent host prints no line" [ "$(lines ' : ')" = 0 ]
        check "its time-out goes to standard error" grep -qx '301: Timeout.' "$err"
        check "silent: statistics" stats "$silent" 1 0 100
        check "no reply gives status 1" [ "$status" = 1 ]
        started=$(date +%s)
        status=$(run -W 0.2 "$silent")
        ended=$(date +%s)
        check "-W 0.2 waits no longer" [ $((ended - started)) -le 1 ]
    fi
    if [ -n "$unreachable" ]; then
        status=$(run --console "$unreachable")
        check "an unreachable host prints its answer" \
            grep -q "^$unreachable : Host unreachable\. ，time=[0-9]*ms\$" "$out"
        check "the error ends the run" grep -qx '127: Host unreachable.' "$err"
        check "unreachable: statistics" stats "$unreachable" 1 0 100
        check "an unreachable answer is no reply: status 1" [ "$status" = 1 ]
    fi
else
    echo "console_test: not root, raw ICMP sockets need root; the pings are not checked"
fi

summary
