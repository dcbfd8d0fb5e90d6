#!/bin/sh
# The Debian package of a build tree: made with cpack, unpacked into a
# throw-away root with dpkg -x, and quarn-scan run from there. Also checks
# the package's name, its dependencies, the manual page and the bash
# completion.
#   package_test.sh BUILD_DIR
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$root/package" >"$root/cpack.log" 2>&1 || { cat "$root/cpack.log" >&2; exit 1; }
set -- "$root"/package/quarn_*_amd64.deb
[ -f "$1" ] || { echo "no quarn_<version>_amd64.deb made" >&2; exit 1; }
deb=$1
case $(basename "$deb") in
  quarn_1.0.0.0_amd64.deb) ;;
  *) echo "unexpected package name: $(basename "$deb")" >&2; exit 1 ;;
esac
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libstdc++6; do
  echo "$depends" | grep -q "$needed" || { echo "Depends lacks $needed: $depends" >&2; exit 1; }
done
echo "$depends" | grep -q zlib1g && { echo "zlib is built in, yet Depends names it: $depends" >&2; exit 1; }

dpkg -x "$deb" "$root/root"
version=$("$root/root/usr/bin/quarn-scan" --version)
[ "$(echo "$version" | head -n 1)" = "quarn-scan 1.0.0.0" ] || { echo "--version said: $version" >&2; exit 1; }
zcat "$root/root/usr/share/man/man1/quarn-scan.1.gz" | grep -q '^\.TH QUARN-SCAN 1'
grep -q 'complete .*quarn-scan' "$root/root/usr/share/bash-completion/completions/quarn-scan"
echo "ok: $(basename "$deb"), Depends: $depends"
