#!/usr/bin/env bash
# Installs the Debian packages listed in the given files when any of them is missing: as root directly,
# otherwise through sudo; without either it prints the exact apt-get line and stops.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wanted=()
for list in "$@"; do
  while read -r package; do
    [ -n "$package" ] && wanted+=("$package")
  done <"$here/packages-$list.txt"
done
missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  run=(bash -c)
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  run=(sudo bash -c)
else
  echo "Missing Debian packages. Run as root, then try again:" >&2
  echo "  $line" >&2
  exit 1
fi
echo "Installing: ${missing[*]}" >&2
"${run[@]}" "$line"
