#!/usr/bin/env bash
# systemd-analyze verify on the service unit. The unit names /usr/bin/orbapda,
# which exists only once the package is installed, so the copy checked here
# names the built binary instead. Skipped (77) where systemd-analyze is not
# installed: it comes with systemd, which a build machine need not have.
# Usage: verify_unit.sh UNIT_FILE BUILT_BINARY
set -euo pipefail
unit=$1
binary=$2

command -v systemd-analyze >/dev/null || { echo "SKIP: no systemd-analyze"; exit 77; }

grep -qx 'ExecStart=/usr/bin/orbapda --headless' "$unit" || { echo "FAIL: ExecStart changed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed "s#^ExecStart=/usr/bin/orbapda #ExecStart=$binary #" "$unit" >"$work/orbapda.service"

# Warnings (an unknown key, a value it cannot parse) leave the status 0 and
# are only printed: any output fails the test.
if ! output=$(systemd-analyze verify "$work/orbapda.service" 2>&1) || [[ -n $output ]]; then
  echo "FAIL: systemd-analyze verify:" >&2
  echo "$output" >&2
  exit 1
fi
echo "systemd-analyze verify: no complaint"
