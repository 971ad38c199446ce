# Supervision: systemd brings the server back after a hang (SIGSTOP: the
# watchdog kills it), a SIGKILL and a fault raised by its own instruction
# (SIGBUS on a memory file truncated under it: its fault line, a core),
# each time measured from the fault to reports resumed. Then the
# processor's alignment fault on the FPGA window, which the server's
# register accessors must never raise.
source ./lib.sh
boot_timings
install_packages "$SHARE/debs" && ok install "" || fail install "see apt.log"
start_monitor
systemctl enable --now "$UNIT" >>"$OUT/systemctl.log" 2>&1
wait_for 60 is_active || fail active "the server did not start"
start_nav 900
t=$(now)
wait_for 60 reports_since "$t" 3 || fail reports "no reports before the faults"

# recover NAME FAULT_TIME OLD_PID LIMIT: waits for the restarted server
# and its first report, and records how long each took from the fault.
recover() {
  local name=$1 t=$2 old=$3 limit=$4 back
  if ! wait_for "$limit" restarted "$old"; then
    fail "$name" "not restarted within $limit s (state $(systemctl is-active "$UNIT"), pid $(main_pid))"
    return 1
  fi
  timing "${name}_to_restarted" "$(since "$t")"
  back=$(now)
  if wait_for 60 reports_since "$back"; then
    timing "${name}_to_reports" "$(since "$t")"
    ok "$name" "restarted and reporting $(since "$t") s after the fault"
  else
    fail "$name" "restarted, but no report within 60 s"
  fi
}

# 1. A hung server: no watchdog pings, systemd kills it after
#    WatchdogSec (10 s) and restarts it.
pid=$(main_pid)
t=$(now)
kill -STOP "$pid"
wait_for 40 test ! -e /proc/"$pid" && timing sigstop_to_killed "$(since "$t")"
recover sigstop "$t" "$pid" 60
if server_journal | grep -q 'Watchdog timeout'; then ok watchdog "$(server_journal | grep -m1 'Watchdog timeout' | cut -d' ' -f5-)"; else fail watchdog "no watchdog timeout in the journal"; fi

# 2. Killed.
pid=$(main_pid)
t=$(now)
kill -KILL "$pid"
recover sigkill "$t" "$pid" 40

# 3. A fault of the server's own instruction: the registers in a memory
#    file (CORVANE_DEVMEM, a drop-in), filled by the stand-ins' FPGA
#    simulator; the file truncated under the running server, whose next
#    counter read (for a ping's response) then raises SIGBUS.
mkdir -p /run/board-vm /etc/systemd/system/$UNIT.service.d
mem=/run/board-vm/fpga.mem
cat >/etc/systemd/system/$UNIT.service.d/memory-file.conf <<CONF
[Service]
Environment=CORVANE_DEVMEM=$mem
ReadWritePaths=/run/board-vm
CONF
start_sim() {
  rm -f /run/board-vm/ready
  systemd-run --unit=board-fpga-sim --quiet /opt/corvane/dev-standins/bin/fpga-sim --memory "$mem" \
    --ready-file /run/board-vm/ready "$CONFIG/devices.xml"
  wait_for 30 test -e /run/board-vm/ready && chown corvane-pnt "$mem"
}
start_sim || fail fpga-sim "the simulator did not get ready"
systemctl daemon-reload
systemctl restart "$UNIT"
wait_for 60 is_active || fail memory-file "the server did not start on the memory file"
t=$(now)
wait_for 60 reports_since "$t" 2 || fail memory-file "no reports on the memory file"
pid=$(main_pid)
grep -q " $mem\$" /proc/"$pid"/maps && ok memory-file "the server maps $mem" || fail memory-file "$mem not mapped"
systemctl stop board-fpga-sim
t=$(now)
truncate -s 0 "$mem"
# The counter is read for each health event and command response: a ping
# makes the server read it at once.
"$BIN/aspn2-tool" command --timeout 5 --count 1 BITSERVER_PING >"$OUT/ping-after-truncation.log" 2>&1 &
wait_for 30 test ! -e /proc/"$pid" && timing sigbus_to_ended "$(since "$t")"
start_sim || fail fpga-sim "the simulator did not get ready again"
recover sigbus "$t" "$pid" 60
line=$(journalctl -b --no-pager -t ZOziDaZodOduzuz -p err -o cat | grep -m1 'fatal SIGBUS')
[[ -n "$line" ]] && ok fault-line "$line (priority err)" || fail fault-line "no fatal SIGBUS line at priority err"
server_journal | grep -q 'code=dumped, status=7/BUS' && ok dumped "$(server_journal | grep -m1 'code=dumped' | cut -d' ' -f5-)" || fail dumped "no 'code=dumped, status=7/BUS' in the journal"
# The newest core of the server: the bus error's, stored.
core_stored() {
  coredumpctl --no-pager -1 info ZOziDaZodOduzuz >"$OUT/coredump.log" 2>&1
  grep -q 'Signal: 7 (BUS)' "$OUT/coredump.log" && grep -q 'Storage:.*(present)' "$OUT/coredump.log"
}
if wait_for 30 core_stored; then
  ok core "$(grep -E 'Signal:|Storage:' "$OUT/coredump.log" | tr -s ' \n' ' ')"
else
  fail core "no stored core of the bus error: $(grep -E 'Signal:|Storage:' "$OUT/coredump.log" | tr -s ' \n' ' ')"
fi
rm -f /etc/systemd/system/$UNIT.service.d/memory-file.conf
systemctl daemon-reload
systemctl stop board-fpga-sim
systemctl restart "$UNIT"
t=$(now)
wait_for 60 reports_since "$t" 2 && ok back-on-devmem "" || fail back-on-devmem "no reports on /dev/mem again"

# 4. The processor's alignment fault on device memory (read only).
base=$(sed -n -E '/<Name>Processor_Interface</,/<\/IODevice>/ s/.*<BaseAddress>([^<]+)<.*/\1/p' "$CONFIG/devices.xml")
probe=$("$SHARE/unaligned-probe" "$base" 2>&1)
echo "$probe" >"$OUT/unaligned-probe.log"
if grep -q 'BUS_ADRALN' <<<"$probe"; then
  ok alignment-fault "$(tr '\n' ' ' <<<"$probe")"
else
  fail alignment-fault "the processor model let an unaligned device access through: $(tr '\n' ' ' <<<"$probe")"
fi
systemctl stop "$UNIT"
finish
