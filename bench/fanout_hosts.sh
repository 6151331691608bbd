#!/bin/sh
# The fan-out benchmark's hosts: a pinger PREFIX-p and a host PREFIX-h answering echo
# requests on 200 addresses 203.0.113.1 to 203.0.113.200, joined by one veth pair. The
# pinger's only route leads to the host, so nothing leaves the machine. Needs root.
#   fanout_hosts.sh setup|teardown PREFIX
set -u
action=${1:-}
prefix=${2:-}
if [ -z "$action" ] || [ -z "$prefix" ]; then
    echo "usage: $0 setup|teardown PREFIX" >&2
    exit 2
fi
pinger="$prefix-p"
host="$prefix-h"

teardown() {
    ip netns del "$pinger" 2>/dev/null
    ip netns del "$host" 2>/dev/null
    return 0
}

case "$action" in
    teardown) teardown ;;
    setup)
        teardown
        set -e
        ip netns add "$pinger"
        ip netns add "$host"
        ip -n "$pinger" link set lo up
        ip -n "$host" link set lo up
        ip link add name crvb0 netns "$pinger" type veth peer name crvb1 netns "$host"
        ip -n "$pinger" addr add 198.51.100.1/30 dev crvb0
        ip -n "$host" addr add 198.51.100.2/30 dev crvb1
        ip -n "$pinger" link set crvb0 up
        ip -n "$host" link set crvb1 up
        ip -n "$pinger" route add 203.0.113.0/24 via 198.51.100.2
        i=1
        while [ "$i" -le 200 ]; do
            ip -n "$host" addr add "203.0.113.$i/32" dev lo
            i=$((i + 1))
        done
        ip netns exec "$host" sysctl -qw net.ipv4.icmp_echo_ignore_all=0
        ;;
    *)
        echo "usage: $0 setup|teardown PREFIX" >&2
        exit 2
        ;;
esac
