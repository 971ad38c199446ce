# Install: the arm64 packages installed with apt, the maintainer scripts'
# user and /dev/mem rule, the unit enabled and started on the real
# /dev/mem, and its sandbox letting the server do its work: reports with
# the geoid's altitude, a ping answered, health events, the journal, and
# systemd-analyze's score as offline.
source ./lib.sh
boot_timings

t=$(now)
if install_packages "$SHARE/debs"; then ok install "$(ls "$SHARE/debs" | tr '\n' ' ')"; else fail install "see apt.log"; fi
timing install "$(since "$t")"
if getent passwd corvane-pnt >/dev/null; then ok user "$(getent passwd corvane-pnt)"; else fail user "no corvane-pnt user"; fi
expect devmem-owner "root:corvane-pnt 660" "$(stat -c '%U:%G %a' /dev/mem)"

start_monitor
# Transient-local readers, so that events published while discovery is
# still under way reach the listener too.
sed -E 's|<BackFillHistory>[^<]*</BackFillHistory>|<BackFillHistory>true</BackFillHistory>|' \
  "$CONFIG/connections-udp.xml" >/tmp/listener-connections.xml
"$BIN/aspn2-tool" listen --json --connections /tmp/listener-connections.xml >"$OUT/listen.jsonl" 2>"$OUT/listen.err" &
listen_pid=$!
wait_for 30 grep -q 'listening on' "$OUT/listen.err" || fail listener "did not start"

t=$(now)
systemctl enable --now "$UNIT" >>"$OUT/systemctl.log" 2>&1
expect enabled enabled "$(systemctl is-enabled "$UNIT")"
if wait_for 60 is_active; then ok active "READY after $(since "$t") s"; else fail active "$(systemctl is-active "$UNIT")"; fi
timing start_to_ready "$(since "$t")"
pid=$(main_pid)
if tr '\0' '\n' </proc/"$pid"/environ | grep -q CORVANE_DEVMEM; then
  fail real-devmem "CORVANE_DEVMEM is set"
elif grep -q ' /dev/mem$' /proc/"$pid"/maps; then
  ok real-devmem "$(grep -c ' /dev/mem$' /proc/"$pid"/maps) mappings of /dev/mem, no CORVANE_DEVMEM"
else
  fail real-devmem "no mapping of /dev/mem"
fi

t=$(now)
start_nav 60
if wait_for 60 reports_since "$t" 5; then
  ok reports "$(measured_since "$t") MEASURED position reports"
else
  fail reports "$(measured_since "$t") MEASURED position reports within 60 s"
fi
timing nav_to_5_reports "$(since "$t")"
alt=$(last_altitude)
# 300 m above the ellipsoid (the navigator's default, hills of 3 m) less
# the geoid's 49.5 m there.
if awk -v a="${alt:-x}" 'BEGIN { exit !(a + 0 > 249.5 && a + 0 < 254.5) }'; then
  ok altitude "$alt m above the geoid"
else
  fail altitude "\"$alt\" is not 250.5 +- 4 m"
fi

if "$BIN/aspn2-tool" command --timeout 20 --count 1 BITSERVER_PING >"$OUT/ping.log" 2>&1 && [[ -s "$OUT/ping.log" ]]; then
  ok ping "$(head -n 1 "$OUT/ping.log")"
else
  fail ping "$(tail -n 2 "$OUT/ping.log" | tr '\n' ' ')"
fi
if wait_for 20 grep -q 'started successfully' "$OUT/listen.jsonl"; then
  ok health "$(wc -l <"$OUT/listen.jsonl") events and responses, the start among them"
else
  fail health "no start event in $(wc -l <"$OUT/listen.jsonl") lines"
fi
kill "$listen_pid" 2>/dev/null

# The journal: the server's lines under its identifier, the priority
# prefixes taken by journald (none left in the text).
n=$(journalctl -b --no-pager -t ZOziDaZodOduzuz -o cat | wc -l)
if ((n > 0)) && ! journalctl -b --no-pager -t ZOziDaZodOduzuz -o cat | grep -q '^<[0-7]>'; then
  ok journal "$n lines, no priority prefix left in the text"
else
  fail journal "$n lines; prefixes: $(journalctl -b --no-pager -t ZOziDaZodOduzuz -o cat | grep -c '^<[0-7]>')"
fi

score() { sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p'; }
live=$(systemd-analyze security "$UNIT" 2>&1 | score)
offline=$(systemd-analyze security --offline=yes /lib/systemd/system/$UNIT.service 2>&1 | score)
if [[ -n "$live" && "$live" == "$offline" ]]; then ok security "$live live and offline"; else fail security "live \"$live\", offline \"$offline\""; fi

t=$(now)
systemctl stop "$UNIT"
timing stop "$(since "$t")"
expect stopped-in-order "success 0" "$(systemctl show -p Result --value "$UNIT") $(systemctl show -p ExecMainStatus --value "$UNIT")"
finish
