#!/usr/bin/env bash
# The server package's maintainer scripts, run as dpkg runs them with every
# command they call replaced by a stub that logs its arguments: each case
# names the script, dpkg's arguments, whether systemd and udev run, and
# the calls expected in order. The scripts' probes of /run/systemd/system
# and /run/udev are pointed at a temporary folder.
#   check-maintainer-scripts.sh SOURCE_DIR
set -euo pipefail
src="$1"
tmp="$(mktemp -d "${TMPDIR:-/tmp}/maintainer-scripts-XXXXXX")"
trap 'rm -rf "$tmp"' EXIT

mkdir -p "$tmp/bin"
for c in systemd-sysusers chown udevadm systemctl deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >>"$CALLS"\n' "$c" >"$tmp/bin/$c"
  chmod +x "$tmp/bin/$c"
done
for s in postinst postrm prerm; do
  sed "s|/run/|$tmp/run/|g" "$src/packaging/$s" >"$tmp/$s"
  chmod +x "$tmp/$s"
done

udev_trigger="udevadm control --reload|udevadm trigger --settle --subsystem-match=mem --sysname-match=mem"
# After the rule is gone: an "add" event, which the default rules answer.
udev_readd="udevadm control --reload|udevadm trigger --action=add --settle --subsystem-match=mem --sysname-match=mem"
users="systemd-sysusers corvane-pnt.conf|chown corvane-pnt:corvane-pnt /opt/corvane/config|chown corvane-pnt:corvane-pnt /opt/corvane/config/*_VCL_1_9.xml"
# script | arguments | running (systemd, udev, none) | expected calls, '|'-separated
cases=(
  "postinst|configure|systemd udev|$users|$udev_trigger|systemctl daemon-reload"
  "postinst|configure 1.0.0-1|systemd udev|$users|$udev_trigger|systemctl daemon-reload|deb-systemd-invoke try-restart corvane-pnt-server.service"
  "postinst|configure 1.0.0-1|none|$users"
  "postinst|abort-upgrade 1.0.0-2|systemd udev|"
  "postrm|remove|systemd udev|$udev_readd|systemctl daemon-reload"
  "postrm|purge|systemd udev|$udev_readd|systemctl daemon-reload"
  "postrm|purge|none|"
  "postrm|upgrade 1.0.0-2|systemd udev|systemctl daemon-reload"
  "prerm|remove|systemd udev|deb-systemd-invoke stop corvane-pnt-server.service"
  "prerm|upgrade 1.0.0-2|systemd udev|"
)

failures=0
for c in "${cases[@]}"; do
  IFS='|' read -r script args running expected_rest <<<"$c"
  expected="$(tr '|' '\n' <<<"$expected_rest" | sed '/^$/d')"
  rm -rf "$tmp/run"
  mkdir -p "$tmp/run"
  [[ "$running" == *systemd* ]] && mkdir -p "$tmp/run/systemd/system"
  [[ "$running" == *udev* ]] && mkdir -p "$tmp/run/udev"
  : >"$tmp/calls"
  # shellcheck disable=SC2086
  if ! CALLS="$tmp/calls" PATH="$tmp/bin:$PATH" "$tmp/$script" $args >"$tmp/out" 2>&1; then
    echo "FAIL: $script $args ($running) exited non-zero: $(cat "$tmp/out")"
    failures=$((failures + 1))
    continue
  fi
  actual="$(cat "$tmp/calls")"
  if [[ "$actual" != "$expected" ]]; then
    echo "FAIL: $script $args ($running):"
    { diff <(echo "$expected") <(echo "$actual") || true; } | sed "s/^/  /"
    failures=$((failures + 1))
  fi
done
((failures == 0)) || exit 1
echo "maintainer scripts: ${#cases[@]} cases ok"
