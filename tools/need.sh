#!/bin/sh
# Installs those of the named Debian packages that are not installed yet, and
# nothing when all of them are. Needs root, as apt-get does.
set -eu
missing=""
for package in "$@"; do
  if ! dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $package"
  fi
done
[ -n "$missing" ] || exit 0
echo "Installing:$missing"
apt-get update
# shellcheck disable=SC2086 # one word a package
DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
