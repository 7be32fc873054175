#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the agent
# and the fleet server need.
# Idempotent: packages already present are left alone, so a second run is quick.
set -euo pipefail

packages=(
  # toolchain, and the Debian package's checks
  build-essential cmake ninja-build pkg-config dpkg-dev lintian ccache
  # libraries the agent links
  libsqlite3-dev libmicrohttpd-dev libcurl4-gnutls-dev libpugixml-dev
  libcairo2-dev libpango1.0-dev libjpeg62-turbo-dev libfltk1.3-dev libgcrypt20-dev
  # tests and benchmarks; clang and its runtime for the fuzzers
  libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev
  # run time: chart fonts, a display for the popup tests, and tools the tests drive
  fonts-liberation fontconfig xvfb xdotool x11-utils imagemagick
  curl sqlite3 procps psmisc iproute2 python3
  # signing test updates as the maker signs releases; test certificates;
  # Authenticode signatures of the Windows programs and installer
  minisign openssl osslsigncode
  # benchmarks: peers to compare with
  prometheus-node-exporter zabbix-agent rrdtool nginx-light
  # the /metrics command's tests: promtool checks the text, a Prometheus on
  # loopback scrapes the agent
  prometheus
  # the Windows build: MinGW-w64 cross compiler (posix threads) with libgcrypt
  # built for it, GoogleTest's sources to build for Windows, Wine (64-bit only)
  # to run the cross-built tests and services, msitools and wixl for the
  # Windows installer;
  # xvfb above gives Wine a display
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libgcrypt-mingw-w64-dev
  googletest wine wine64 msitools wixl
  # the fleet server: PostgreSQL 15 (its tests start private clusters) and
  # its client library; zeep, a SOAP toolkit, tests the service description
  postgresql-15 postgresql-client-15 libpq-dev python3-zeep
  # the console's password hashes (Argon2id) and session tokens
  libsodium-dev
  # several fleet servers: HAProxy in front of them, PgBouncer in front of
  # the database; Patroni and etcd for a highly available database
  haproxy pgbouncer patroni etcd-server
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Other apt runs (unattended upgrades, a parallel install) hold the lock a while.
  while fuser /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock >/dev/null 2>&1; do sleep 5; done
  "${sudo_cmd[@]}" apt-get update -qq
  # Installing postgresql-15 makes and starts a system cluster unless told
  # not to; the tests and scripts/run-server.sh use private clusters only.
  if [ ! -e /etc/postgresql-common/createcluster.d/quarrin.conf ]; then
    "${sudo_cmd[@]}" mkdir -p /etc/postgresql-common/createcluster.d
    echo "create_main_cluster = false" |
      "${sudo_cmd[@]}" tee /etc/postgresql-common/createcluster.d/quarrin.conf >/dev/null
  fi
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
