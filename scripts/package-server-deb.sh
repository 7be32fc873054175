#!/usr/bin/env bash
# Builds the Debian package quarrin-server_<version>_amd64.deb from a Release
# build tree and prints its path on the last line. The agent's package
# (scripts/package-deb.sh) is made from the same tree and is not touched.
#
#   scripts/package-server-deb.sh [BUILD_DIR [CMAKE_OPTION...]]
#
#   /usr/lib/quarrin-server/quarrin-server       the program
#   /lib/systemd/system/quarrin-server.service  its unit, as user quarrin-server
#   /etc/quarrin-server/quarrin-server.conf     the settings (a conffile)
#   /usr/share/doc/quarrin-server/              copyright, changelog
#
# The system user and the state folder /var/lib/quarrin-server are made by
# postinst. BUILD_DIR defaults to build-release; options go to CMake.
set -euo pipefail
umask 022
cd "$(dirname "$0")/.."

build="${1:-build-release}"
shift || true
./scripts/install-deps.sh >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARRIN_BENCH=OFF "$@" >&2
cmake --build "$build" -j "$(nproc)" --target quarrin-server >&2
version=$(sed -n 's/^QUARRIN_VERSION:STRING=//p' "$build/CMakeCache.txt")
deb="$build/quarrin-server_${version}_amd64.deb"
files=packaging/server-deb
# The package's tree where dpkg-shlibdeps looks for it: debian/<package>.
work="$build/server-deb"
root="$work/debian/quarrin-server"
rm -rf "$work" "$deb"

install -D -m 0755 "$build/quarrin-server" "$root/usr/lib/quarrin-server/quarrin-server"
strip --strip-unneeded --remove-section=.comment --remove-section=.note \
  "$root/usr/lib/quarrin-server/quarrin-server"
install -D -m 0644 "$files/quarrin-server.service" "$root/lib/systemd/system/quarrin-server.service"
install -D -m 0644 "$files/quarrin-server.conf" "$root/etc/quarrin-server/quarrin-server.conf"
doc="$root/usr/share/doc/quarrin-server"
install -D -m 0644 "$files/copyright" "$doc/copyright"
maintainer="TARN Quarrin maintainers <quarrin@tarn.example.org>"
printf 'quarrin-server (%s) unstable; urgency=medium\n\n  * Quarrin fleet server %s.\n\n -- %s  %s\n' \
  "$version" "$version" "$maintainer" "$(date -u -R)" | gzip -9n >"$doc/changelog.gz"

# Depends: what dpkg-shlibdeps finds for the program, and adduser for postinst.
: >"$work/debian/control"
mkdir -p "$root/DEBIAN"
depends=$(cd "$work" && dpkg-shlibdeps -O debian/quarrin-server/usr/lib/quarrin-server/quarrin-server)
depends="adduser, ${depends#shlibs:Depends=}"

cat >"$root/DEBIAN/control" <<CONTROL
Package: quarrin-server
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Recommends: postgresql-15 | postgresql
Section: admin
Priority: optional
Description: fleet server of the Quarrin workstation agents
 The inventory web service the Quarrin agents report to, the service
 desk's workstation lookup, the agents' update site, a syslog collector
 and a JSON API for administrators, on PostgreSQL.
 .
 The database may run elsewhere; /etc/quarrin-server/quarrin-server.conf
 names it and says how to create it.
CONTROL
echo /etc/quarrin-server/quarrin-server.conf >"$root/DEBIAN/conffiles"
install -m 0755 "$files/postinst" "$files/prerm" "$files/postrm" "$root/DEBIAN/"
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\n' | LC_ALL=C sort |
  xargs -d '\n' md5sum) >"$root/DEBIAN/md5sums"
dpkg-deb --root-owner-group -Zxz -b "$root" "$deb" >&2
rm -rf "$work"
[ -f "$deb" ] || { echo "package-server-deb.sh: dpkg-deb made no $deb" >&2; exit 1; }
echo "$deb"
