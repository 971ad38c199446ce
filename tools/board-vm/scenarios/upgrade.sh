# Upgrade and removal: version N installed and running, a conffile changed
# by the administrator, version N+1 installed over it (the change kept,
# the conffile the package changed replaced, the new server running),
# then purge: the service, the unit, the rule and the files gone, /dev/mem
# given back to the owner it had before the install; the system user stays, as
# Debian leaves system users.
source ./lib.sh
boot_timings
devmem_before=$(stat -c '%U:%G %a' /dev/mem)
install_packages "$SHARE/debs" && ok install "version $(dpkg-query -W -f='${Version}' corvane-pnt-server)" || fail install "see apt.log"
systemctl enable --now "$UNIT" >>"$OUT/systemctl.log" 2>&1
wait_for 60 is_active || fail active "version N did not start"
old_pid=$(main_pid)

edited=$CONFIG/ZOziDaZodOduzuz.xml
echo "<!-- changed on this board -->" >>"$edited"
edited_sum=$(md5sum <"$edited")

t=$(now)
install_packages "$SHARE/debs-next" && ok upgrade "to $(dpkg-query -W -f='${Version}' corvane-pnt-server)" || fail upgrade "see apt.log"
timing upgrade "$(since "$t")"
expect kept-change "$edited_sum" "$(md5sum <"$edited")"
ls "$CONFIG" | grep -E '\.dpkg-(dist|new|old)$' && fail no-conffile-copies "$(ls "$CONFIG" | grep -E '\.dpkg-')" || ok no-conffile-copies ""
grep -q 'upgraded package' "$CONFIG/devices.xml" && ok package-conffile "devices.xml of N+1 installed" || fail package-conffile "devices.xml of N kept"
if wait_for 60 restarted "$old_pid"; then
  pid=$(main_pid)
  exe=$(readlink /proc/"$pid"/exe)
  [[ "$exe" != *deleted* ]] && ok new-server-running "pid $old_pid -> $pid, $exe" || fail new-server-running "$exe"
else
  fail new-server-running "the server of version N still runs (pid $(main_pid), $(readlink /proc/"$(main_pid)"/exe))"
fi

t=$(now)
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q corvane-pnt-server corvane-pnt-dev-standins >>"$OUT/apt.log" 2>&1 &&
  ok purge "" || fail purge "see apt.log"
timing purge "$(since "$t")"
expect unit-gone "inactive" "$(systemctl is-active "$UNIT")"
for f in /lib/systemd/system/$UNIT.service /lib/udev/rules.d/60-corvane-pnt-mem.rules /opt/corvane; do
  [[ ! -e "$f" ]] && ok "removed $f" "" || fail "removed $f" "$(ls -ld "$f"; find "$f" 2>/dev/null | head -n 5)"
done
expect devmem-given-back "$devmem_before" "$(stat -c '%U:%G %a' /dev/mem)"
expect package-gone "" "$(dpkg-query -W -f='${Status}' corvane-pnt-server 2>/dev/null)"
getent passwd corvane-pnt >/dev/null && ok user-kept "the system user stays, as Debian leaves system users" || ok user-removed ""
finish
