#!/usr/bin/env bash
# The service unit: `systemd-analyze verify` passes on it (its commands
# pointed at a staged install of the server component), it sets none of the
# options that would break the service, and `systemd-analyze security
# --offline=yes` scores it at most 1.9.
#   check-unit.sh SOURCE_DIR BUILD_DIR
# Exit status 77 (skipped) without systemd-analyze.
set -euo pipefail
src="$1" build="$2"
unit="$src/packaging/corvane-pnt-server.service"
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze here: skipped"; exit 77; }

tmp="$(mktemp -d "${TMPDIR:-/tmp}/unit-check-XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/stage" --component server >/dev/null
staged="$tmp/corvane-pnt-server.service"
sed "s|/opt/corvane|$tmp/stage/opt/corvane|g" "$unit" >"$staged"
for page in man8/ZOziDaZodOduzuz.8.gz man1/pnt-status.1.gz; do
  [[ -f "$tmp/stage/usr/share/man/$page" ]] || { echo "FAIL: no manual page $page staged"; exit 1; }
done

# verify prints its findings; any line is a failure.
out="$(systemd-analyze verify --man=no "$staged" 2>&1)" && rc=0 || rc=$?
if ((rc != 0)) || [[ -n "$out" ]]; then
  echo "FAIL: systemd-analyze verify (status $rc):"; echo "$out"; exit 1
fi

# Options the unit must not set, each with what it would break; the board
# VM's shm scenario shows the first on a running system.
while IFS='|' read -r option why; do
  if grep -qx -- "$option" "$unit"; then echo "FAIL: $option in the unit: $why"; exit 1; fi
done <<'EOF_OPTIONS'
RemoveIPC=yes|a restart would delete the shared-memory files of running peers of the service user
PrivateIPC=yes|the shared-memory transport shares /dev/shm with the board's other participants
PrivateDevices=yes|its private /dev has no /dev/mem
EOF_OPTIONS

report="$(systemd-analyze security --offline=yes "$unit" 2>&1 || true)"
score="$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$report")"
[[ -n "$score" ]] || { echo "FAIL: no score in:"; echo "$report"; exit 1; }
echo "systemd-analyze security --offline=yes: $score"
if ! awk -v s="$score" 'BEGIN { exit !(s <= 1.9) }'; then
  echo "FAIL: exposure $score above 1.9:"; grep '✗' <<<"$report"; exit 1
fi
