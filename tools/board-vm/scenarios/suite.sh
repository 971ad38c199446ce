# The arm64 test suite of build-arm64/ on the machine's own kernel instead
# of user-mode emulation: ctest as scripts/cross-build --test runs it (every
# test but the "load" label, two at a time), the emulator that the cross
# build's test commands name replaced by a plain exec.
source ./lib.sh
boot_timings
repo=$(cat "$SHARE/repo")
mkdir -p "$repo"
if ! mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose,msize=262144 repo "$repo"; then
  fail repo "the source tree is not shared"
  finish
fi
build=$repo/build-arm64
emulator=$(sed -n 's/^CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=//p; s/^CORVANE_QEMU_AARCH64:[A-Z]*=//p' "$build/CMakeCache.txt" | head -n 1)
if [[ -n "$emulator" && ! -e "$emulator" ]]; then
  mkdir -p "$(dirname "$emulator")"
  printf '#!/bin/sh\nexec "$@"\n' >"$emulator"
  chmod +x "$emulator"
fi
# The build machine's Python may live elsewhere (a version manager's
# shim): the guest's stands in at that path.
python=$(sed -n 's/^_\{0,1\}Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt" | head -n 1)
if [[ -n "$python" && ! -e "$python" ]]; then
  mkdir -p "$(dirname "$python")"
  ln -s /usr/bin/python3 "$python"
fi
cd "$build"
t=$(now)
timeout 2700 ctest -j 2 -LE load --output-on-failure >"$OUT/suite.log" 2>&1
status=$?
timing suite "$(since "$t")"
cd /mnt/host
summary=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$OUT/suite.log")
if ((status == 0)); then
  ok suite "$summary"
else
  fail suite "${summary:-ctest status $status}: $(sed -n '/The following tests/,$p' "$OUT/suite.log" | tail -n +2 | tr -s ' \n' ' ')"
fi
skipped=$(grep -c 'Not Run\|Skipped' "$OUT/suite.log")
((skipped == 0)) && ok none-skipped "" || skip skipped-tests "$skipped: $(grep -E '\*\*\*Skipped|Not Run' "$OUT/suite.log" | tr -s ' \n' ' ')"
finish
