# Shared memory: the end-to-end kill-and-restart test of the arm64 build
# (its server killed four times under a running navigator, over shared
# memory and over UDP) on a real kernel, where robust futex lists release
# a killed process's locks; under qemu-user its shared-memory case skips.
source ./lib.sh
boot_timings
repo=$(cat "$SHARE/repo")
mkdir -p "$repo"
if ! mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 repo "$repo"; then
  fail repo "the source tree is not shared"
  finish
fi
test=$repo/build-arm64/tests/VICTORY/ZOziDaZodOduzuz/zozi_e2e_restart_tests
[[ -x "$test" ]] || { fail test "$test not built"; finish; }
mkdir -p /tmp/shm-test
cd /tmp/shm-test
t=$(now)
TMPDIR=/tmp/shm-test timeout 420 "$test" --gtest_filter='EndToEnd/KilledAndRestarted.*' >"$OUT/test.log" 2>&1
status=$?
timing test "$(since "$t")"
cd /mnt/host
grep -E '^kill [0-9]|^\[ +(OK|SKIPPED|FAILED) +\]' "$OUT/test.log"
for transport in SHM UDP; do
  if grep -q "^\[       OK \] EndToEnd/KilledAndRestarted.ReportsAgainUnderARunningNavigator/$transport" "$OUT/test.log"; then
    ok "$transport" "four kills, each back: $(awk -v tr="$transport" '
      /^\[ RUN/ { on = index($0, "/" tr) > 0 } on && /^kill [0-9]/ { printf "%s s ", $(NF - 1) }' "$OUT/test.log")"
  elif grep -q "^\[  SKIPPED \] EndToEnd/KilledAndRestarted.ReportsAgainUnderARunningNavigator/$transport" "$OUT/test.log"; then
    fail "$transport" "skipped: $(grep -m1 -i 'robust' "$OUT/test.log")"
  else
    fail "$transport" "failed (status $status, see test.log)"
  fi
done

# The installed service on the shared-memory connections file, in its
# sandbox as the service user, under a navigator run by the same user
# (Fast DDS makes its shared-memory files writable by their owner only, so
# peers over shared memory run as one user): killed three times,
# restarted by systemd each time, and reporting again.
install_packages "$SHARE/debs" && ok install "" || fail install "see apt.log"
sed -i 's|<Connections>[^<]*</Connections>|<Connections>/opt/corvane/config/connections-shm.xml</Connections>|' \
  "$CONFIG/ZOziDaZodOduzuz.xml"
start_monitor
systemctl enable --now "$UNIT" >>"$OUT/systemctl.log" 2>&1
wait_for 60 is_active || fail service-active "the server did not start on shared memory"
runuser -u corvane-pnt -- "$BIN/aspn2-tool" nav --connections "$CONFIG/connections-shm.xml" --seconds 600 \
  >"$OUT/nav.log" 2>&1 &
nav_pid=$!
t=$(now)
if wait_for 60 reports_since "$t" 3; then ok service-shm "reports over shared memory"; else fail service-shm "no reports"; fi
for kill in 1 2 3; do
  pid=$(main_pid)
  t=$(now)
  kill -KILL "$pid"
  if wait_for 40 restarted "$pid"; then
    back=$(now)
    if wait_for 60 reports_since "$back"; then
      timing "service_kill${kill}_to_reports" "$(since "$t")"
      ok "service-kill-$kill" "reporting again $(since "$t") s after the kill"
    else
      fail "service-kill-$kill" "restarted, no report within 60 s"
    fi
  else
    fail "service-kill-$kill" "not restarted"
  fi
done
kill "$nav_pid" 2>/dev/null
wait "$nav_pid" 2>/dev/null
systemctl stop "$UNIT"
ls -la /dev/shm >"$OUT/dev-shm.log"
left=$(find /dev/shm -user corvane-pnt | wc -l)
((left == 0)) && ok service-shm-clean "nothing of the service user left in /dev/shm" ||
  fail service-shm-clean "$left files of the service user left in /dev/shm"
finish
