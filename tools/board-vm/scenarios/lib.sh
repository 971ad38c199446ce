# Helpers of the scenarios that run inside the virtual machine, sourced by
# each scenario from the host's share (/mnt/host). Every check appends one
# line "ok|FAIL|skip NAME: detail" to out/checks, every measured time one
# line "NAME SECONDS" to out/timings; the host reads both for the verdict.
set -u
SHARE=/mnt/host
OUT=$SHARE/out
CHECKS=$OUT/checks
TIMES=$OUT/timings
UNIT=corvane-pnt-server
BIN=/opt/corvane/bin
CONFIG=/opt/corvane/config
: >"$CHECKS"
: >"$TIMES"
failures=0
started_at=$(date +%s.%N)

ok() { echo "ok $1: ${2:-}" | tee -a "$CHECKS"; }
fail() { echo "FAIL $1: ${2:-}" | tee -a "$CHECKS"; failures=$((failures + 1)); }
skip() { echo "skip $1: ${2:-}" | tee -a "$CHECKS"; }
# expect NAME WANTED ACTUAL: ok when equal.
expect() { if [[ "$2" == "$3" ]]; then ok "$1" "$3"; else fail "$1" "expected \"$2\", got \"$3\""; fi; }
timing() { echo "$1 $2" >>"$TIMES"; echo "time $1: $2 s"; }
now() { date +%s.%N; }
# since T: seconds from T to now, two decimals.
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# wait_for SECONDS COMMAND...: polls COMMAND every 0.2 s until it succeeds;
# status 1 when the time runs out first.
wait_for() {
  local limit=$1 end
  shift
  end=$(($(date +%s) + limit))
  until "$@" >/dev/null 2>&1; do
    (($(date +%s) >= end)) && return 1
    sleep 0.2
  done
}

# How long the boot took: the kernel's start to this script, and to a
# finished start-up of every unit (systemd's own account).
boot_timings() {
  timing boot_to_runner "$(cut -d' ' -f1 /proc/uptime)"
  systemctl is-system-running --wait >/dev/null 2>&1 || true
  # Coldplug may still be applying rules (udev is slow under emulation).
  udevadm settle --timeout=120 || true
  timing boot_to_started "$(cut -d' ' -f1 /proc/uptime)"
}

# install_packages FOLDER: every package of FOLDER at once, offline (their
# dependencies are in the image), keeping the administrator's conffiles.
install_packages() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "$1"/*.deb \
    >>"$OUT/apt.log" 2>&1
}

main_pid() { systemctl show -p MainPID --value "$UNIT"; }
is_active() { [[ "$(systemctl is-active "$UNIT")" == active ]]; }
# restarted OLD_PID: the unit is active with a main process other than OLD_PID.
restarted() { local p; p=$(main_pid); [[ "$p" != 0 && "$p" != "$1" ]] && is_active; }

# The VICTORY data bus ports of the installed configuration.
bus_ports() { sed -n -E 's/.*<DataBus [^>]*port="([0-9]+)".*/\1/p' "$CONFIG"/*ServiceConfig_1_9.xml; }

# start_monitor: victory-monitor on the three services' ports, one JSON
# line per data message into $OUT/monitor.jsonl.
start_monitor() {
  stdbuf -oL "$BIN/victory-monitor" --json $(bus_ports) >"$OUT/monitor.jsonl" 2>"$OUT/monitor.err" &
  monitor_pid=$!
}

# start_nav SECONDS: the simulated navigator, with the installed
# connections file (the sample's DDS domain).
start_nav() {
  "$BIN/aspn2-tool" nav --seconds "$1" >"$OUT/nav.log" 2>&1 &
  nav_pid=$!
}

# measured_since T: how many position messages of a solution told at or
# after T (wall clock) with a MEASURED basis the monitor has seen.
measured_since() {
  awk -v since="$1" '
    /"service":"[Pp]osition"/ && /"basis":"MEASURED"/ {
      if (match($0, /"realtime":"[0-9.]+"/)) {
        t = substr($0, RSTART + 12, RLENGTH - 13) + 0
        if (t >= since) n++
      }
    }
    END { print n + 0 }' "$OUT/monitor.jsonl"
}
reports_since() { (($(measured_since "$1") >= ${2:-1})); }

# last_altitude: the altitude of the newest MEASURED position message, m.
last_altitude() {
  grep '"basis":"MEASURED"' "$OUT/monitor.jsonl" | grep -i '"service":"position"' | tail -n 1 |
    sed -n -E 's/.*"alt(itude)?":\{"value":([-0-9.eE+]+).*/\2/p'
}

# The server's journal since the boot.
server_journal() { journalctl -b --no-pager -u "$UNIT" "$@"; }

# finish: saves the journal and the unit's state, stops what the scenario
# started and ends with status 0 when no check failed.
finish() {
  timing scenario "$(since "$started_at")"
  [[ -n "${nav_pid:-}" ]] && kill "$nav_pid" 2>/dev/null
  [[ -n "${monitor_pid:-}" ]] && kill "$monitor_pid" 2>/dev/null
  journalctl -b --no-pager -o short-precise >"$OUT/journal.log" 2>&1
  journalctl -b --no-pager -o verbose -t ZOziDaZodOduzuz >"$OUT/server-journal-verbose.log" 2>&1
  systemctl status --no-pager "$UNIT" >"$OUT/unit-status.log" 2>&1
  wait 2>/dev/null
  echo "scenario: $failures failed check(s)"
  exit $((failures > 0))
}
