#!/bin/sh
# The tool's console mode as a user without the privilege for raw sockets (started by
# tests/netns/unprivileged.sh). Usage: console_unprivileged_test.sh PINGTOOL MODE
#   replies  the namespace admits the user's group to ICMP datagram sockets: the run
#            prints eleven reply lines from 127.0.0.1
#   advice   it admits nobody: the run ends with 10013 and names the three remedies
set -u
tool=$1
mode=$2
. "$(dirname "$0")/console_checks.sh"


check "runs as an unprivileged user" [ "$(id -u)" != 0 ]
"$tool" --console 127.0.0.1 >"$out" 2>"$err"
status=$?
case "$mode" in
    replies)
        check "eleven replies" [ "$(grep -c '^127\.0\.0\.1 : OK ，time=[0-9]*ms$' "$out")" = 11 ]
        check "then the statistics" \
            grep -q '^11 packets transmitted, 11 received, 0% packet loss, time [0-9]*ms$' "$out"
        check "nothing on standard error" [ ! -s "$err" ]
        check "replies give status 0" [ "$status" = 0 ]
        ;;
    advice)
        check "no line" [ "$(grep -c ' : ' "$out")" = 0 ]
        check "the error" grep -q '^10013: ' "$err"
        check "run as root" grep -q 'run it as root' "$err"
        check "setcap on the program" grep -q "setcap cap_net_raw+ep $tool\$" "$err"
        check "the install target" grep -q -- '--target setcap' "$err"
        check "the group range" grep -q 'net.ipv4.ping_group_range=' "$err"
        check "no reply gives status 1" [ "$status" = 1 ]
        ;;
    *)
        echo "usage: $0 PINGTOOL replies|advice" >&2
        exit 2
        ;;
esac
summary
