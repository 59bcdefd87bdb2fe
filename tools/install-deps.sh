#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing OrbaPDA needs,
# only those that are missing. Needs root (or sudo) when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ libsqlite3-dev sqlite3 libpugixml-dev libcups2-dev cups-daemon locales
          libpq-dev postgresql postgresql-client  # the server engine; its tests run a private cluster
          qt6-base-dev libgtest-dev libgmock-dev googletest
          dpkg-dev file systemd lintian)  # the Debian package: shlibdeps, its test, systemd-analyze verify
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma, for the tests of quantities as people read them.
if ! locale -a 2>/dev/null | grep -qix 'pt_BR.utf8'; then
  "${sudo[@]}" localedef -i pt_BR -f UTF-8 pt_BR.UTF-8
fi
