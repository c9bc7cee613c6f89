#!/usr/bin/env bash
# Builds the Debian package from a build folder, installs it with dpkg -i into
# a scratch root (so the machine itself is left alone), and runs what it
# installed: the program and its manual page. A package for another CPU
# installs as a foreign architecture, and its program runs through the
# emulator command in QUENTARO_EMULATOR, if set.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null
package=$(ls "$scratch"/out/quentaro_*.deb)

root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
architecture=$(dpkg-deb -f "$package" Architecture)
if [ "$architecture" != "$(dpkg --print-architecture)" ]; then
  dpkg --root="$root" --add-architecture "$architecture"
fi
# The scratch root has no libc package recorded, so dependencies are waived.
if ! dpkg --root="$root" --force-depends --force-script-chrootless -i "$package" >"$scratch/dpkg.log" 2>&1; then
  cat "$scratch/dpkg.log"
  exit 1
fi

# Debian's own libc6, not a cross build's libc6-<arch>-cross.
dpkg-deb -f "$package" Depends | grep -Eq '(^|, )libc6 \('
# The program runs until head has its lines and goes away.
sixth_line=$( (echo 1000 | ${QUENTARO_EMULATOR:-} "$root/usr/bin/quentaro" || true) | head -n 6 | tail -n 1)
if [ "$sixth_line" != "START: 1009" ]; then
  echo "installed program wrote '$sixth_line' where 'START: 1009' belongs"
  exit 1
fi
MANWIDTH=80 man -l "$root/usr/share/man/man1/quentaro.1.gz" | grep -q '^NAME$'
echo "package installs with dpkg -i and runs"
