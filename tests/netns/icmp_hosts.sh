#!/bin/sh
# Test hosts for the ICMP error tests, built from network namespaces so that nothing
# leaves the machine.
#
#   icmp_hosts.sh setup PREFIX      build PREFIX-p (the pinger), PREFIX-r (its router) and
#                                   the hosts PREFIX-h and PREFIX-e behind the router
#   icmp_hosts.sh teardown PREFIX   remove them again (also after a failed run)
#   icmp_hosts.sh run PREFIX CMD..  run CMD inside PREFIX-p, or as it is without root
#
# Each step holds a lock, so that two test runs of one build tree neither tear down
# each other's hosts nor see each other's ICMP traffic; run builds the hosts again when
# a run that ended meanwhile has removed them.
#
# The pinger's only routes lead to the router over one veth pair:
#   pinger 198.51.100.1/30, 2001:db8:1::1/64     router 198.51.100.2/30, 2001:db8:1::2/64
# and the router answers for the test hosts behind it:
#   203.0.113.0/24       2001:db8:203::/48   unreachable  (host unreachable, code 1 / code 0)
#   198.51.100.128/25    2001:db8:198::/48   prohibit     (code 13 / code 1)
#   198.51.100.64/26     2001:db8:64::/48    blackhole    (a silent host)
# Two hosts stand behind the router, each on a link of its own:
#   PREFIX-h  198.51.100.20/28, 2001:db8:16::20/64   (router .17, 2001:db8:16::1)
#             an ordinary host: its kernel answers echo requests
#   PREFIX-e  198.51.100.40/28, 2001:db8:32::40/64   (router .33, 2001:db8:32::1)
#             its kernel answers none (echo_ignore_all); a test starts
#             tests/tools/icmp_responder there to answer the way it wants
# The router also answers broadcast echo requests on the pinger's link.
# Inside the pinger the resolver asks 127.0.0.1 only, where a test may answer itself.
set -u

action=${1:-}
prefix=${2:-}
if [ -z "$action" ] || [ -z "$prefix" ]; then
    echo "usage: $0 setup|teardown|run PREFIX [command...]" >&2
    exit 2
fi
pinger="$prefix-p"
router="$prefix-r"
host="$prefix-h"
responder="$prefix-e"
lock="/run/lock/$prefix.netns.lock"
[ -d /run/lock ] || lock="/tmp/$prefix.netns.lock"

# Runs this script again with the given internal step, holding the lock.
locked() {
    if command -v flock >/dev/null 2>&1; then
        flock "$lock" sh "$0" "$@"
    else
        sh "$0" "$@"
    fi
}

ready() {
    [ -e "/run/netns/$pinger" ] && [ -e "/run/netns/$router" ] &&
        [ -e "/run/netns/$host" ] && [ -e "/run/netns/$responder" ] &&
        [ -e "/etc/netns/$pinger/resolv.conf" ]
}

teardown() {
    for ns in "$pinger" "$router" "$host" "$responder"; do
        ip netns del "$ns" 2>/dev/null
    done
    rm -rf "/etc/netns/$pinger"
    return 0
}

# stub NAMESPACE ROUTER-DEV ROUTER-V4 HOST-V4 ROUTER-V6 HOST-V6: a host on a link of its
# own behind the router, whose only routes lead back through the router.
stub() {
    ip netns add "$1"
    ip netns exec "$1" sysctl -qw net.ipv6.conf.all.accept_dad=0
    ip netns exec "$1" sysctl -qw net.ipv6.conf.default.accept_dad=0
    ip -n "$1" link set lo up
    ip link add name crv0 netns "$1" type veth peer name "$2" netns "$router"
    ip -n "$1" addr add "$4/28" dev crv0
    ip -n "$1" addr add "$6/64" dev crv0 nodad
    ip -n "$router" addr add "$3/28" dev "$2"
    ip -n "$router" addr add "$5/64" dev "$2" nodad
    ip -n "$1" link set crv0 up
    ip -n "$router" link set "$2" up
    ip -n "$1" route add 198.51.100.0/24 via "$3"
    ip -n "$1" route add 203.0.113.0/24 via "$3"
    ip -n "$1" -6 route add 2001:db8::/32 via "$5"
}

setup() {
    if ! command -v ip >/dev/null 2>&1; then
        echo "icmp_hosts: 'ip' (iproute2) is missing; install the iproute2 package" >&2
        exit 1
    fi
    if [ "$(id -u)" != 0 ]; then
        echo "icmp_hosts: creating network namespaces needs root; the tests that use them skip"
        exit 0
    fi
    if ready; then
        echo "icmp_hosts: $pinger, $router, $host and $responder are ready"
        return 0
    fi
    teardown
    trap 'teardown; echo "icmp_hosts: setup failed" >&2; exit 1' EXIT
    set -e
    ip netns add "$pinger"
    ip netns add "$router"
    for ns in "$pinger" "$router"; do
        ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.accept_dad=0
        ip netns exec "$ns" sysctl -qw net.ipv6.conf.default.accept_dad=0
        ip -n "$ns" link set lo up
    done
    ip link add name crv0 netns "$pinger" type veth peer name crv1 netns "$router"
    ip -n "$pinger" addr add 198.51.100.1/30 dev crv0
    ip -n "$pinger" addr add 2001:db8:1::1/64 dev crv0 nodad
    ip -n "$router" addr add 198.51.100.2/30 dev crv1
    ip -n "$router" addr add 2001:db8:1::2/64 dev crv1 nodad
    ip -n "$pinger" link set crv0 up
    ip -n "$router" link set crv1 up

    ip -n "$pinger" route add 198.51.100.0/24 via 198.51.100.2
    ip -n "$pinger" route add 203.0.113.0/24 via 198.51.100.2
    ip -n "$pinger" -6 route add 2001:db8::/32 via 2001:db8:1::2
    # Limited broadcast goes out on the router's link only.
    ip -n "$pinger" route add 255.255.255.255/32 dev crv0

    ip netns exec "$router" sysctl -qw net.ipv4.ip_forward=1
    ip netns exec "$router" sysctl -qw net.ipv6.conf.all.forwarding=1
    # Every test gets its answer, however many came before.
    ip netns exec "$router" sysctl -qw net.ipv4.icmp_ratelimit=0
    ip netns exec "$router" sysctl -qw net.ipv6.icmp.ratelimit=0
    ip -n "$router" route add unreachable 203.0.113.0/24
    ip -n "$router" route add prohibit 198.51.100.128/25
    ip -n "$router" route add blackhole 198.51.100.64/26
    ip -n "$router" -6 route add unreachable 2001:db8:203::/48
    ip -n "$router" -6 route add prohibit 2001:db8:198::/48
    ip -n "$router" -6 route add blackhole 2001:db8:64::/48
    ip netns exec "$router" sysctl -qw net.ipv4.icmp_echo_ignore_broadcasts=0

    stub "$host" crv2 198.51.100.17 198.51.100.20 2001:db8:16::1 2001:db8:16::20
    stub "$responder" crv3 198.51.100.33 198.51.100.40 2001:db8:32::1 2001:db8:32::40
    ip netns exec "$responder" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
    ip netns exec "$responder" sysctl -qw net.ipv6.icmp.echo_ignore_all=1

    # "ip netns exec" mounts these files over /etc: no name query can leave. Written
    # last, it also marks the hosts as complete.
    mkdir -p "/etc/netns/$pinger"
    printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"/etc/netns/$pinger/resolv.conf"
    set +e
    trap - EXIT
    echo "icmp_hosts: $pinger, $router, $host and $responder are ready"
}

case "$action" in
    setup) locked _setup "$prefix" ;;
    teardown) locked _teardown "$prefix" ;;
    run)
        shift 2
        locked _run "$prefix" "$@"
        ;;
    _setup) setup ;;
    _teardown) teardown ;;
    _run)
        shift 2
        if [ "$(id -u)" = 0 ] && ! ready; then
            (setup) || exit 1
        fi
        if [ -e "/run/netns/$pinger" ]; then
            exec ip netns exec "$pinger" "$@"
        fi
        exec "$@"
        ;;
    *)
        echo "usage: $0 setup|teardown|run PREFIX [command...]" >&2
        exit 2
        ;;
esac
