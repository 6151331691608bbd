#!/bin/sh
# Runs a test program as an unprivileged user (uid and gid 65534, no other groups) inside
# the pinger namespace of tests/netns/icmp_hosts.sh, with that namespace's
# net.ipv4.ping_group_range set first (the setting belongs to the network namespace).
#
#   unprivileged.sh PREFIX RANGE [--stay-root] FILE... -- PROGRAM ARGS...
#
# RANGE is "LOW HIGH" ("65534 65534" admits the user, "1 0" admits nobody). The FILEs
# (programs and the shared libraries they load) are copied into a fresh directory that
# the user can read, because the build tree may lie below one it cannot enter; an
# argument "@NAME" stands for the copy of the file NAME there. The copies' directory is
# LD_LIBRARY_PATH and CORVANE_ENGINE_FILE names the engine module's copy.
# With --stay-root the program runs as root from the copies (it changes user itself).
# Exits 77 (skipped) without root, which the namespaces and the user change need.
set -u
prefix=$1
range=$2
shift 2
become="setpriv --reuid 65534 --regid 65534 --clear-groups"
if [ "${1:-}" = "--stay-root" ]; then
    become=""
    shift
fi
if [ "$(id -u)" != 0 ]; then
    echo "unprivileged: skipped, needs root to build the test hosts and to become uid 65534"
    exit 77
fi
if ! command -v setpriv >/dev/null 2>&1; then
    echo "unprivileged: setpriv (util-linux) is missing" >&2
    exit 1
fi
# Never the host's own setting: only inside the pinger namespace.
mine=$(stat -L -c %d:%i /proc/self/ns/net)
pinger=$(stat -L -c %d:%i "/run/netns/$prefix-p" 2>/dev/null || echo none)
if [ "$mine" != "$pinger" ]; then
    echo "unprivileged: not inside the namespace $prefix-p" >&2
    exit 1
fi
sysctl -qw net.ipv4.ping_group_range="$range" || exit 1

dir=$(mktemp -d /tmp/crvu.XXXXXX) || exit 1
trap 'rm -rf "$dir"' EXIT
chmod 755 "$dir"
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    cp "$1" "$dir/" || exit 1
    shift
done
[ $# -gt 0 ] && shift
chmod -R a+rX "$dir"

# "@NAME" arguments become paths of the copies; the rest stay as they are.
count=$#
i=0
while [ "$i" -lt "$count" ]; do
    arg=$1
    shift
    case "$arg" in
        @*) set -- "$@" "$dir/${arg#@}" ;;
        *) set -- "$@" "$arg" ;;
    esac
    i=$((i + 1))
done

engine=""
[ -e "$dir/libcorvane20.so" ] && engine="$dir/libcorvane20.so"
cd "$dir" || exit 1
# Not exec: the copies are removed when the program has ended.
# shellcheck disable=SC2086
LD_LIBRARY_PATH="$dir" CORVANE_ENGINE_FILE="$engine" HOME="$dir" $become "$@"
status=$?
exit "$status"
