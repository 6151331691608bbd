#!/bin/sh
# The Debian package of a build: its file list, its dependencies and control files,
# lintian, and (as root) an installation, a console run as an ordinary user in a network
# namespace of its own, and a removal that leaves nothing behind.
# Usage: package_test.sh BUILD_DIR (a build of the tool, for instance without tests)
set -u
build=$1
. "$(dirname "$0")/../app/console_checks.sh"

cmake --build "$build" --target package >"$out" 2>"$err" || {
    cat "$out" "$err" >&2
    exit 1
}
deb=$(ls "$build"/pingtool_*_amd64.deb 2>/dev/null | head -n 1)
check "the package is built" [ -n "$deb" ]
[ -n "$deb" ] || { summary; exit 1; }
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$out"
cat >"$err" <<FILES
./usr/bin/pingtool
./usr/lib/$multiarch/pingtool/libcorvaneplat.so
./usr/share/applications/pingtool.desktop
./usr/share/doc/pingtool/changelog.gz
./usr/share/doc/pingtool/copyright
./usr/share/icons/hicolor/scalable/apps/pingtool.svg
./usr/share/man/man1/pingtool.1.gz
FILES
check "the files, and no others" cmp -s "$out" "$err"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
    check "depends on $library" sh -c "echo '$depends' | grep -q '$library (>= '"
done
check "depends on no test tool" sh -c "! echo '$depends' | grep -Eq 'gtest|wine|valgrind'"
control=$(mktemp -d)
dpkg-deb -e "$deb" "$control"
check "no maintainer script (nothing sets a capability)" \
    sh -c "! ls '$control' | grep -Eq '^(pre|post)(inst|rm)$'"
rm -rf "$control"
if command -v lintian >/dev/null 2>&1; then
    lintian "$deb" >"$out" 2>&1
    check "lintian reports no error" sh -c "! grep -q '^E: ' '$out'"
fi

if [ "$(id -u)" != 0 ]; then
    echo "package_test: not root; the package is not installed"
    summary
    exit
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")" >"$out" 2>"$err"
check "it installs" [ $? = 0 ]
check "the installed program holds no capability" [ -z "$(getcap /usr/bin/pingtool)" ]
check "nor any set-user-id bit" [ ! -u /usr/bin/pingtool ]
# As an ordinary user, where the datagram sockets are open to every group (as on a desktop).
unshare --net sh -c 'ip link set lo up &&
    sysctl -qw net.ipv4.ping_group_range="0 2147483647" &&
    exec setpriv --reuid 65534 --regid 65534 --clear-groups \
        env -i PATH=/usr/bin:/bin pingtool --console 127.0.0.1' >"$out" 2>"$err"
status=$?
check "an ordinary user: eleven reply lines" \
    [ "$(grep -c '^127\.0\.0\.1 : OK ，time=[0-9]*ms$' "$out")" = 11 ]
check "an ordinary user: the statistics" \
    grep -q '^11 packets transmitted, 11 received, 0% packet loss' "$out"
check "an ordinary user: status 0" [ "$status" = 0 ]
check "the manual page" sh -c "man -w pingtool >/dev/null 2>&1 || [ -f /usr/share/man/man1/pingtool.1.gz ]"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq pingtool >"$out" 2>"$err"
check "it is removed" [ $? = 0 ]
left=""
for path in /usr/bin/pingtool "/usr/lib/$multiarch/pingtool" /usr/share/doc/pingtool \
    /usr/share/applications/pingtool.desktop /usr/share/icons/hicolor/scalable/apps/pingtool.svg \
    /usr/share/man/man1/pingtool.1.gz; do
    [ -e "$path" ] && left="$left $path"
done
check "nothing is left behind:$left" [ -z "$left" ]
check "dpkg forgot it" sh -c "! dpkg -s pingtool >/dev/null 2>&1 || dpkg -s pingtool | grep -q 'Status: deinstall'"
summary
