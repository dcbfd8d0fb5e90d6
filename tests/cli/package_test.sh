#!/bin/sh
# The Debian package of a build tree: made with cpack, unpacked into a
# throw-away root with dpkg -x, and quarn-scan run from there. Also checks
# the package's name, its dependencies (the libraries dpkg-shlibdeps finds,
# the Python the module was built for, what the bash completion and the
# Python part want), the copyright file, the manual pages, the bash
# completion, and that Debian's own python3 imports the module from the
# package's files.
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

recommends=$(dpkg-deb -f "$deb" Recommends)
# The completion file is only read by the bash-completion package.
echo "$recommends" | grep -q 'bash-completion' || { echo "Recommends lacks bash-completion: $recommends" >&2; exit 1; }

# Debian's policy puts the copyright file here; it must hold Quarn's own
# licence and the notice of the zlib linked into every program.
copyright=$root/root/usr/share/doc/quarn/copyright
[ -f "$copyright" ] || { echo "no /usr/share/doc/quarn/copyright" >&2; exit 1; }
grep -q '^MIT License' "$copyright" || { echo "the copyright file lacks Quarn's MIT licence" >&2; exit 1; }
grep -q 'Jean-loup Gailly and Mark Adler' "$copyright" || { echo "the copyright file lacks zlib's notice" >&2; exit 1; }

# quarn-scan(1) refers to quarn(1): the window's page comes with the window.
if [ -e "$root/root/usr/bin/quarn" ]; then
  [ -f "$root/root/usr/share/man/man1/quarn.1.gz" ] || { echo "quarn is packed without quarn.1" >&2; exit 1; }
  zcat "$root/root/usr/share/man/man1/quarn.1.gz" | grep -q '^\.TH QUARN 1' || { echo "quarn.1.gz is not the page of quarn" >&2; exit 1; }
fi

# The module is built for one interpreter's ABI: Depends must hold python3
# to that minor version, and /usr/bin/python3 must import it from the
# package's files alone.
set -- "$root"/root/usr/lib/python3*/*-packages/quarn/_quarn.cpython-*.so
if [ -f "$1" ]; then
  abi=$(basename "$1" | sed -n 's/^_quarn\.cpython-3\([0-9]*\)-.*/\1/p')
  echo "$depends" | grep -q "python3 (>= 3\.$abi~)" || { echo "Depends lacks python3 (>= 3.$abi~): $depends" >&2; exit 1; }
  echo "$depends" | grep -q "python3 (<< 3\.$((abi + 1)))" || { echo "Depends lacks python3 (<< 3.$((abi + 1))): $depends" >&2; exit 1; }
  for wanted in python3-matplotlib python3-dask python3-distributed; do
    echo "$recommends" | grep -q "$wanted" || { echo "Recommends lacks $wanted: $recommends" >&2; exit 1; }
  done
  site=$(dirname "$(dirname "$1")")
  imported=$(cd "$root" && PYTHONPATH=$site PYTHONNOUSERSITE=1 /usr/bin/python3 -c 'import quarn; print(quarn.__file__)')
  case $imported in
    "$site"/*) ;;
    *) echo "/usr/bin/python3 imported quarn from $imported, not from the package" >&2; exit 1 ;;
  esac
fi
echo "ok: $(basename "$deb"), Depends: $depends; Recommends: $recommends"
