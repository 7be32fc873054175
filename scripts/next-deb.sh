#!/usr/bin/env bash
# Makes the package one build higher from a built one, without a second
# build: its programs restamped with the next version (restamp-version.py),
# its control file, changelog and checksums saying so. The package tests
# upgrade to it. Prints the new package's path (beside DEB) on the last line.
#
#   scripts/next-deb.sh DEB NEXT_VERSION PROGRAM...
#
# PROGRAM: a stamped program's path inside the package (usr/lib/...).
set -euo pipefail

[ $# -ge 3 ] || { echo "usage: $0 DEB NEXT_VERSION PROGRAM..." >&2; exit 2; }
deb=$1
next=$2
shift 2
restamp="$(dirname "$0")/restamp-version.py"
package=$(dpkg-deb --field "$deb" Package)
version=$(dpkg-deb --field "$deb" Version)
arch=$(dpkg-deb --field "$deb" Architecture)
out="$(dirname "$deb")/${package}_${next}_${arch}.deb"
root=$(mktemp -d "$(dirname "$deb")/deb-next.XXXXXX")
trap 'rm -rf "$root"' EXIT

rmdir "$root"
dpkg-deb -R "$deb" "$root"
for program in "$@"; do
  "$restamp" "$root/$program" "$next"
done
sed -i "s/^Version: $version\$/Version: $next/" "$root/DEBIAN/control"
for changelog in "$root/usr/share/doc/$package"/changelog*.gz; do
  [ -f "$changelog" ] || continue
  gzip -dc "$changelog" | sed "s/$version/$next/g" | gzip -9n >"$changelog.new"
  mv "$changelog.new" "$changelog"
done
if [ -f "$root/DEBIAN/md5sums" ]; then
  (cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\n' | LC_ALL=C sort |
    xargs -d '\n' md5sum) >"$root/DEBIAN/md5sums"
fi
dpkg-deb --root-owner-group -b "$root" "$out" >&2
echo "$out"
