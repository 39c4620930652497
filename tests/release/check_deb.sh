#!/usr/bin/env bash
# The Debian package of the Linux programs, built from the release preset in
# a folder of its own and read back with dpkg-deb: the two programs, the
# launcher, the icon, the file manager's entry and type, the manual pages,
# the copyright and changelog, dependencies found by dpkg-shlibdeps, no
# folder of the build machine, and no error from lintian. Then the CMake
# install and uninstall of the same build: nothing is left.
# Usage: check_deb.sh WORKDIR
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(realpath -m "${1:?usage: check_deb.sh WORKDIR}")
failed=0
check() {  # WHAT CONDITION-STATUS [DETAILS]
  if [ "$2" = 0 ]; then echo "ok   $1"; else echo "FAIL $1${3:+: $3}"; failed=1; fi
}

rm -f "$work"/*.deb
cmake --preset release -S "$src" -B "$work/build" >/dev/null &&
  cmake --build "$work/build" >/dev/null &&
  cpack --config "$work/build/CPackConfig.cmake" -B "$work" >/dev/null
deb=$(ls "$work"/nwd4-322_*_amd64.deb 2>/dev/null)
[ -f "$deb" ] || { echo "FAIL no package was made in $work"; exit 1; }

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }')
expected="-rwxr-xr-x root/root ./usr/bin/NWD4_322
-rwxr-xr-x root/root ./usr/bin/nwd4_322-open
-rwxr-xr-x root/root ./usr/bin/nwd_split
-rw-r--r-- root/root ./usr/share/applications/nwd4_322.desktop
-rw-r--r-- root/root ./usr/share/doc/nwd4-322/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/nwd4-322/copyright
-rw-r--r-- root/root ./usr/share/icons/hicolor/16x16/apps/nwd4_322.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/32x32/apps/nwd4_322.png
-rw-r--r-- root/root ./usr/share/man/man1/NWD4_322.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/nwd4_322-open.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/nwd_split.1.gz
-rw-r--r-- root/root ./usr/share/mime/packages/nwd4_322.xml"
[ "$files" = "$expected" ]
check "the package holds the programs, the launcher, its entry and type, the manual pages, the icon in two sizes, the copyright and changelog, owned by root" $? "$files"

info=$(dpkg-deb -I "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
names=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
missing=
for lib in libc6 libstdc++6 libgtk-3-0 libmount1; do
  grep -q -x -F "$lib" <<<"$names" || missing+=" $lib"
done
[ -z "$missing" ]
check "dependencies from dpkg-shlibdeps: $depends" $? "missing$missing"
grep -q -x ' Recommends: xdg-utils' <<<"$info"
check "xdg-utils recommended, for opening what was joined" $? "$info"
grep -q -E '^ Maintainer: .+ <[^@ ]+@[^@ ]+>$' <<<"$info" &&
  [ "$(sed -n '/^ Description:/,/^ [A-Z][a-z-]*:/p' <<<"$info" | grep -c '^  ')" -ge 3 ]
check "a maintainer with an address and a long description" $? "$info"

if command -v lintian >/dev/null; then
  # Root is what the test command runs as; lintian only warns about it.
  report=$(lintian --fail-on error "$deb" 2>&1)
  status=$?
  report=$(grep -v -x 'running with root privileges is not recommended!' <<<"$report")
  check "lintian finds no error" $status "$report"
  [ -z "$report" ] || printf '     %s\n' "lintian: $report"
else
  check "lintian finds no error" 1 "lintian is missing (tools/install_deps.sh installs it)"
fi

rm -rf "$work/root"
dpkg-deb -x "$deb" "$work/root"
leaks=$(grep -r -l -a -F -e "$src" -e "$work" "$work/root")
[ -z "$leaks" ]
check "no build folder named inside the package" $? "$leaks"

# Opened from the file manager, as the unpacked package installs it.
out=$(bash "$src/tests/desktop/check_file_manager.sh" --prefix "$work/root/usr" "$work/desktop" 2>&1)
check "the package's entry and type open a set's first part in its folder" $? "$out"

rm -rf "$work/prefix"
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null &&
  cmake --build "$work/build" --target uninstall >/dev/null
left=$(cd "$work/prefix" 2>/dev/null && find . -mindepth 1 | sort | tr '\n' ' ')
[ "$left" = "./bin ./share ./share/man " ]
check "the CMake uninstall leaves no file and no empty folder but bin, share, share/man" $? "$left"
exit $failed
