#!/bin/sh
# A console run of the tool under valgrind: no memory error, no definite leak, and the
# run itself as without valgrind (eleven replies from loopback, status 0). Raw ICMP
# sockets need root; without it the test skips (status 77).
# Usage: valgrind_console.sh VALGRIND PINGTOOL
set -u
valgrind=$1
tool=$2
if [ "$(id -u)" != 0 ]; then
    echo "valgrind_console: not root, raw ICMP sockets need root"
    exit 77
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$valgrind" --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
    "$tool" --console 127.0.0.1 >"$out"
status=$?
lines=$(grep -c '^127\.0\.0\.1 : OK ，time=[0-9]*ms$' "$out")
echo "status $status, $lines reply lines"
[ "$status" = 0 ] && [ "$lines" = 11 ]
