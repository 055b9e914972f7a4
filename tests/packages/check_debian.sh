#!/bin/sh
# Checks the Debian packages in DIST: lintian finds no error; the packages
# depend on what they need (the library's shlibs entry, the tool and the
# development files on the library); and, unpacked into a staging root with
# dpkg-deb -x, they build and run the consumer programs that users build.
#   check_debian.sh DIST VERSION
set -eu
dist=$(cd "$1" && pwd) version=$2
here=$(cd "$(dirname "$0")" && pwd)
major=${version%%.*}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_debian: $*" >&2; exit 1; }

library=$dist/libkdrvx${major}_${version}_amd64.deb
development=$dist/libkdrvx-dev_${version}_amd64.deb
tool=$dist/rvx_${version}_amd64.deb
for package in "$library" "$development" "$tool"; do
  [ -f "$package" ] || fail "missing $package"
done

# Errors fail; warnings are shown.
lintian --tag-display-limit 0 "$library" "$development" "$tool" >"$work/lintian" 2>&1 || true
cat "$work/lintian"
! grep -q '^E:' "$work/lintian" || fail "lintian reports errors"

field() { dpkg-deb --field "$1" "$2"; }
expect() {  # expect WHAT ACTUAL PATTERN: ACTUAL must match the grep pattern
  echo "$2" | grep -Eq "$3" || fail "$1 is '$2', expected /$3/"
}
expect "libkdrvx$major Depends" "$(field "$library" Depends)" '(^|, )libc6 \(>= [0-9.]+\)'
expect "libkdrvx-dev Depends" "$(field "$development" Depends)" "^libkdrvx$major \\(= $version\\)\$"
expect "rvx Depends" "$(field "$tool" Depends)" "^libkdrvx$major \\(>= $version\\), libc6"
dpkg-deb --ctrl-tarfile "$library" | tar -x -O ./shlibs >"$work/shlibs"
expect "shlibs" "$(cat "$work/shlibs")" "^libkdrvx $major libkdrvx$major \\(>= $version\\)\$"
dpkg-deb --ctrl-tarfile "$library" | tar -x -O ./triggers | grep -qx 'activate-noawait ldconfig' ||
  fail "libkdrvx$major does not trigger ldconfig"

# The staging root, and the consumers built against it.
for package in "$library" "$development" "$tool"; do
  dpkg-deb -x "$package" "$work/root"
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
gzip -t "$work/root/usr/share/man/man1/rvx.1.gz"
cmake -DPREFIX="$work/root/usr" -DLIBDIR="lib/$multiarch" -DWORK="$work/consumers" \
  -DVERSION="$version" -DC_COMPILER=cc -DGENERATOR=Ninja -DREADME="$here/../../README.md" \
  -P "$here/../consumers/check_consumers.cmake"
echo "check_debian: the packages of $version are well formed and usable"
