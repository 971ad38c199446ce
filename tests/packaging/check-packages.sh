#!/usr/bin/env bash
# The Debian packages of a build: made with CPack into a temporary folder,
# their contents and control data checked (every file where the server
# looks for it, the manual pages, the conffiles, the dependencies, no
# stand-in in the server package), then both unpacked (dpkg -x) into a
# temporary root where the installed programs run the demo scenario
# (scripts/demo --installed).
#   check-packages.sh SOURCE_DIR BUILD_DIR DOMAIN
set -euo pipefail
src="$1" build="$2" domain="$3"
command -v dpkg-deb >/dev/null || { echo "no dpkg-deb here: skipped"; exit 77; }

tmp="$(mktemp -d "${TMPDIR:-/tmp}/package-check-XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$tmp/packages" >"$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log"; exit 1; }
server="$(ls "$tmp"/packages/corvane-pnt-server_*.deb)"
standins="$(ls "$tmp"/packages/corvane-pnt-dev-standins_*.deb)"

contents() { dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's|^\./|/|'; }
server_files="$(contents "$server")"
standin_files="$(contents "$standins")"
has() { grep -qx -- "$2" <<<"$1"; }

for f in /opt/corvane/bin/ZOziDaZodOduzuz /opt/corvane/bin/aspn2-tool /opt/corvane/bin/victory-monitor \
         /opt/corvane/bin/pnt-status /usr/share/man/man1/pnt-status.1.gz \
         /opt/corvane/config/ZOziDaZodOduzuz.xml /opt/corvane/config/connections-udp.xml \
         /opt/corvane/config/devices.xml /opt/corvane/config/security/governance.xml \
         /opt/corvane/config/PositionServiceConfig_1_9.xml /opt/corvane/config/Position_VCL_1_9.xml \
         /opt/corvane/config/OrientationServiceConfig_1_9.xml /opt/corvane/config/Orientation_VCL_1_9.xml \
         /opt/corvane/config/DoTServiceConfig_1_9.xml /opt/corvane/config/DoT_VCL_1_9.xml \
         /opt/corvane/geoids/egm96-15.pgm /lib/systemd/system/corvane-pnt-server.service \
         /usr/lib/sysusers.d/corvane-pnt.conf /lib/udev/rules.d/60-corvane-pnt-mem.rules \
         /usr/share/man/man8/ZOziDaZodOduzuz.8.gz /usr/share/man/man1/aspn2-tool.1.gz \
         /usr/share/man/man1/victory-monitor.1.gz; do
  has "$server_files" "$f" || fail "server package lacks $f"
done
grep -E 'libvictory|fpga-sim|dev-standins' <<<"$server_files" && fail "a stand-in in the server package"
grep -qE '^/usr/lib/[^/]+-linux-gnu/libvictory\.so\.5(\.0)?$' <<<"$standin_files" || fail "stand-ins package lacks libvictory.so.5"
has "$standin_files" /opt/corvane/dev-standins/bin/fpga-sim || fail "stand-ins package lacks fpga-sim"
has "$standin_files" /usr/share/man/man1/fpga-sim.1.gz || fail "stand-ins package lacks the manual page of fpga-sim"

# Every sample configuration file is a conffile.
conffiles="$(dpkg-deb -I "$server" conffiles)"
for f in $(grep '^/opt/corvane/config/.*\.xml$' <<<"$server_files"); do
  has "$conffiles" "$f" || fail "$f is not a conffile"
done

depends="$(dpkg-deb -f "$server" Depends)"
for d in systemd libvictory5 libfastrtps libsystemd0 libc6; do
  grep -q "$d" <<<"$depends" || fail "server Depends lacks $d: $depends"
done
grep -q corvane-pnt-dev-standins <<<"$depends" && fail "the server depends on the stand-ins: $depends"
# Our Fast DDS build, not merely any 2.9.1.
fastdds_version="$(sed -n 's/^version=//p' "$src/packaging/fastdds/build.conf")"
for deb in "$server" "$standins"; do
  grep -qF "libfastrtps2.9 (>= $fastdds_version)" <<<"$(dpkg-deb -f "$deb" Depends)" ||
    fail "$(basename "$deb") does not depend on libfastrtps2.9 (>= $fastdds_version)"
done
[[ "$(dpkg-deb -f "$standins" Provides)" == *libvictory5* ]] || fail "the stand-ins do not provide libvictory5"

# The unpacked packages run the demo scenario.
mkdir -p "$tmp/root"
dpkg -x "$server" "$tmp/root"
dpkg -x "$standins" "$tmp/root"
if ! "$src/scripts/demo" --installed "$tmp/root" --seconds 8 --domain "$domain" >"$tmp/demo.log" 2>&1; then
  cat "$tmp/demo.log"; fail "the installed server's demo failed"
else
  grep -F '[demo]' "$tmp/demo.log" | tail -n 3
  # The installed status tool's screen, as the demo showed it.
  grep -F '[status]' "$tmp/demo.log" || fail "the demo showed no pnt-status screen"
fi

((failures == 0)) || exit 1
echo "packages: $(basename "$server") $(basename "$standins"): ok"
