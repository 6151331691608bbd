#!/bin/sh
# The tool's console mode under valgrind: no memory error, no definite leak.
#  1. A run to loopback as without valgrind: eleven replies, status 0 (--error-exitcode=1).
#  2. Runs under lowered descriptor limits, until one leaves no descriptor for the socket:
#     the tool ends its run with 10024 and status 1, so valgrind's errors get a status of
#     their own there (99).
# Raw ICMP sockets need root; without it the test skips (status 77).
# Usage: valgrind_console.sh VALGRIND PINGTOOL
set -u
valgrind=$1
tool=$2
if [ "$(id -u)" != 0 ]; then
    echo "valgrind_console: not root, raw ICMP sockets need root"
    exit 77
fi
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
checks="--leak-check=full --errors-for-leak-kinds=definite"

# shellcheck disable=SC2086
"$valgrind" --error-exitcode=1 $checks "$tool" --console 127.0.0.1 >"$out"
status=$?
lines=$(grep -c '^127\.0\.0\.1 : OK ，time=[0-9]*ms$' "$out")
echo "loopback: status $status, $lines reply lines"
[ "$status" = 0 ] && [ "$lines" = 11 ] || exit 1

# valgrind keeps descriptors of its own below the limit, so the tool's range starts higher.
refused=0
for limit in 14 15 16 17 18 19 20 21 22 24; do
    # shellcheck disable=SC2086
    sh -c "ulimit -n $limit && exec \"\$0\" --error-exitcode=99 $checks \"\$1\" --console 127.0.0.1" \
        "$valgrind" "$tool" >"$out" 2>"$err"
    status=$?
    message=$(grep -E '^(pingtool: )?-?[0-9]+: ' "$err" | head -n 1)
    echo "limit $limit: status $status ${message:-}"
    case "$status" in
        0 | 1 | 127) ;;
        *)
            echo "FAILED: valgrind found errors, or the tool did not end by itself" >&2
            grep '^==' "$err" | head -40 >&2
            exit 1
            ;;
    esac
    [ "$message" = "10024: [10024] Too many open files" ] && refused=$((refused + 1))
done
if [ "$refused" = 0 ]; then
    echo "FAILED: no limit left the socket without a descriptor" >&2
    exit 1
fi
echo "valgrind_console: passed ($refused runs ended with 10024)"
