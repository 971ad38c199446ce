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
finish
