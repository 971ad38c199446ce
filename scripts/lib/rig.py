#!/usr/bin/env python3
"""The runtime-root rig: everything it takes to run the real server and its
peers on this machine, shared by scripts/demo, bench/latency,
bench/e2e-load, bench/soak, tests/drives/run-drive and the C++ tests.

A runtime root is a temporary folder the server reads instead of
/opt/corvane (CORVANE_ROOT) with the memory file the FPGA simulator fills
instead of /dev/mem (CORVANE_DEVMEM):
    <root>/config/   the sample configuration, rewritten: the DDS domain,
                     /opt/corvane -> <root>, the services' data bus and
                     management ports, optional <Debug>, <PRI>, VCL update
                     period, DDS Security identities per role
    <root>/geoids/   the geoid
    <root>/devmem    the memory file
    <root>/logs/     the processes' output

Ports are leased, not probed: each UDP port the rig hands out comes from a
range below the system's ephemeral ports and below every Fast DDS
well-known port (so neither the kernel nor a DDS participant binds it on
its own), and a lease file names the process that holds it, so two rigs
never hand out the same port. A lease ends with its holder's process.

Used as a program (`scripts/rig COMMAND ...`, see --help) by the shell
scripts and the C++ tests; imported by the Python ones. Python 3, standard
library only.
"""

import argparse
import fcntl
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# (configuration file, VCL file) of the position, orientation and direction
# of travel services, in that order everywhere in the rig.
SERVICES = (("PositionServiceConfig_1_9.xml", "Position_VCL_1_9.xml"),
            ("OrientationServiceConfig_1_9.xml", "Orientation_VCL_1_9.xml"),
            ("DoTServiceConfig_1_9.xml", "DoT_VCL_1_9.xml"))

# What the server prints when one of its services cannot bind its
# management port.
BIND_FAILURE = re.compile(r"management port 127\.0\.0\.1:(\d+)[^\n]*Address already in use")

# Leased ports: below Fast DDS's first well-known port (7400) and far below
# the ephemeral range; CORVANE_RIG_PORTS=LOW-HIGH chooses another range.
DEFAULT_PORT_RANGE = (6200, 7399)
LEASE_DIR = os.environ.get("CORVANE_RIG_LEASES", "/tmp/corvane-rig-ports")


class RigError(Exception):
    """A runtime root or one of its processes could not be made."""


def timeout_scale(environ=None):
    """The factor (>= 1) applied to every wait of an end-to-end run:
    CORVANE_TIMEOUT_SCALE, 1 when unset or not a number >= 1."""
    text = (environ if environ is not None else os.environ).get("CORVANE_TIMEOUT_SCALE", "")
    try:
        value = float(text)
    except ValueError:
        return 1.0
    return value if value >= 1 else 1.0


# --- Configuration rewrites (pure) ---------------------------------------------


def with_element(text, name, value):
    """`text` with the content of every <name>...</name> set to `value`."""
    return re.sub(r"<%s>[^<]*</%s>" % (name, name), lambda _: "<%s>%s</%s>" % (name, value, name), text)


def with_domain(text, domain):
    return with_element(text, "DomainId", str(domain))


def with_port(text, element, port):
    """`text` with the port="..." attribute of its first <element ...> set."""
    pattern = re.compile(r'(<%s\b[^>]*\bport=")[0-9]*(")' % element)
    if not pattern.search(text):
        raise RigError("no <%s port=...> in the sample" % element)
    return pattern.sub(lambda m: m.group(1) + str(port) + m.group(2), text, count=1)


def with_update_period(vcl_text, milliseconds):
    return re.sub(r'(name="updatePeriod" value=")[0-9]+', lambda m: m.group(1) + str(milliseconds), vcl_text)


def with_opt_ins(connections_text, settings):
    """Participant settings (XML elements) added after <TcpPort>."""
    return re.sub(r"(<TcpPort>[^<]*</TcpPort>)", lambda m: m.group(1) + settings, connections_text, count=1)


def with_security(connections_text, pki, role, governance="governance.smime"):
    """The connections file with a <Security> container: the identity of
    `role` from the PKI folder made by scripts/make-pki."""
    block = ("  <Security>\n    <Name>Security</Name>\n    <Parameters>\n"
             "      <IdentityCA>{p}/identity_ca.pem</IdentityCA>\n"
             "      <Certificate>{p}/{r}.pem</Certificate>\n"
             "      <PrivateKey>{p}/{r}.key</PrivateKey>\n"
             "      <PermissionsCA>{p}/permissions_ca.pem</PermissionsCA>\n"
             "      <Governance>{p}/{g}</Governance>\n"
             "      <Permissions>{p}/permissions.smime</Permissions>\n"
             "    </Parameters>\n  </Security>\n").format(p=pki, r=role, g=governance)
    end = connections_text.rfind("</CV_Configurations>")
    if end < 0:
        raise RigError("no </CV_Configurations> in the connections file")
    return connections_text[:end] + block + connections_text[end:]


# --- Ports -----------------------------------------------------------------------


def port_range(environ=None):
    text = (environ if environ is not None else os.environ).get("CORVANE_RIG_PORTS", "")
    m = re.fullmatch(r"\s*(\d+)\s*-\s*(\d+)\s*", text)
    if m and 1024 <= int(m.group(1)) <= int(m.group(2)) <= 65535:
        return int(m.group(1)), int(m.group(2))
    return DEFAULT_PORT_RANGE


def process_start_time(pid):
    """The start time (clock ticks since boot) of process `pid`, or None
    when there is no such process: a pid and its start time name one
    process for good, even after the pid is reused."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return int(f.read().rsplit(")", 1)[1].split()[19])
    except (OSError, ValueError, IndexError):
        return None


def udp_port_bindable(port):
    """True when a loopback UDP socket can bind `port` now (and TCP too:
    the port is then free for whichever the holder opens)."""
    for kind in (socket.SOCK_DGRAM, socket.SOCK_STREAM):
        with socket.socket(socket.AF_INET, kind) as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                return False
    return True


class PortLeases:
    """Leases UDP ports to processes: one file per leased port in
    `directory`, holding "pid start-time" of its holder. A lease whose
    holder has ended is free again. All changes happen under one lock of
    the directory, so that two leasing processes never hand out one port."""

    def __init__(self, directory=None, span=None, bindable=udp_port_bindable):
        self.directory = directory or LEASE_DIR
        self.span = span or port_range()
        self.bindable = bindable

    def _locked(self):
        os.makedirs(self.directory, mode=0o777, exist_ok=True)
        try:
            os.chmod(self.directory, 0o1777)
        except OSError:
            pass
        fd = os.open(os.path.join(self.directory, ".lock"), os.O_RDWR | os.O_CREAT, 0o666)
        fcntl.flock(fd, fcntl.LOCK_EX)
        return fd

    def holder(self, port):
        """(pid, start time) of the lease on `port`, or None when it is free."""
        try:
            with open(os.path.join(self.directory, str(port))) as f:
                pid, start = (int(x) for x in f.read().split())
        except (OSError, ValueError):
            return None
        return (pid, start) if process_start_time(pid) == start else None

    def lease(self, count, owner=None):
        """`count` ports leased to process `owner` (default: this one)."""
        owner = owner or os.getpid()
        start = process_start_time(owner)
        if start is None:
            raise RigError("no process %d to lease ports to" % owner)
        low, high = self.span
        size = high - low + 1
        fd = self._locked()
        try:
            ports = []
            first = low + (os.getpid() * 7919 + int(time.monotonic() * 1000)) % size
            for i in range(size):
                port = low + (first - low + i) % size
                if self.holder(port) is not None or not self.bindable(port):
                    continue
                with open(os.path.join(self.directory, str(port)), "w") as f:
                    f.write("%d %d\n" % (owner, start))
                ports.append(port)
                if len(ports) == count:
                    return ports
            self._remove(ports)
            raise RigError("only %d of %d free ports in %d..%d" % (len(ports), count, low, high))
        finally:
            os.close(fd)

    def release(self, ports):
        fd = self._locked()
        try:
            self._remove(ports)
        finally:
            os.close(fd)

    def _remove(self, ports):
        for port in ports:
            try:
                os.unlink(os.path.join(self.directory, str(port)))
            except OSError:
                pass


# --- The runtime root --------------------------------------------------------------


class Root:
    """A runtime root laid out from a configuration folder (the repository's
    config/ or an installed /opt/corvane/config)."""

    def __init__(self, path, domain, config_src=None, victory_src=None, geoid=None, leases=None):
        self.path = path
        self.domain = domain
        self.config_src = config_src or os.path.join(REPO, "config")
        self.victory_src = victory_src or (os.path.join(self.config_src, "victory")
                                           if os.path.isdir(os.path.join(self.config_src, "victory"))
                                           else self.config_src)
        self.geoid = geoid
        self.leases = leases or PortLeases()
        self.data_ports = [0, 0, 0]
        self.management_ports = [0, 0, 0]
        self.leased = []

    @property
    def config(self):
        return os.path.join(self.path, "config")

    @property
    def logs(self):
        return os.path.join(self.path, "logs")

    @property
    def devmem(self):
        return os.path.join(self.path, "devmem")

    @property
    def connections(self):
        return os.path.join(self.config, "connections-udp.xml")

    @property
    def top_level(self):
        return os.path.join(self.config, "ZOziDaZodOduzuz.xml")

    @property
    def devices(self):
        return os.path.join(self.config, "devices.xml")

    def environment(self):
        return {"CORVANE_ROOT": self.path, "CORVANE_DEVMEM": self.devmem}

    def file(self, name):
        return os.path.join(self.config, name)

    def read(self, name):
        with open(self.file(name)) as f:
            return f.read()

    def write(self, name, text):
        with open(self.file(name), "w") as f:
            f.write(text)

    def lay_out(self, debug=None, pri=None, update_period_ms=None, transports=("udp",)):
        """Copies and rewrites the sample configuration and the geoid."""
        for d in (self.config, os.path.join(self.path, "geoids"), self.logs):
            os.makedirs(d, exist_ok=True)
        for name in sum(SERVICES, ()):
            shutil.copy(os.path.join(self.victory_src, name), self.config)
        shutil.copy(os.path.join(self.config_src, "devices.xml"), self.config)
        for transport in transports:
            with open(os.path.join(self.config_src, "connections-%s.xml" % transport)) as f:
                self.write("connections-%s.xml" % transport, with_domain(f.read(), self.domain))
        with open(os.path.join(self.config_src, "ZOziDaZodOduzuz.xml")) as f:
            top = f.read().replace("/opt/corvane", self.path)
        if debug is not None:
            top = with_element(top, "Debug", "true" if debug else "false")
        if pri is not None:
            top = with_element(top, "PRI", str(pri))
        self.write("ZOziDaZodOduzuz.xml", top)
        if update_period_ms is not None:
            for _, vcl in SERVICES:
                self.write(vcl, with_update_period(self.read(vcl), update_period_ms))
        if self.geoid:
            shutil.copy(self.geoid, os.path.join(self.path, "geoids"))
        return self

    def set_ports(self, data_ports=None, owner=None):
        """Points the services' data messages at `data_ports` (leased ones
        when not given) and gives each a leased management port."""
        self.release_ports()
        wanted = 3 + (0 if data_ports else 3)
        leased = self.leases.lease(wanted, owner)
        self.leased = leased
        self.management_ports = leased[:3]
        self.data_ports = list(data_ports) if data_ports else leased[3:]
        for (config, _), data, management in zip(SERVICES, self.data_ports, self.management_ports):
            self.write(config, with_port(with_port(self.read(config), "DataBus", data), "Management", management))
        return self

    def release_ports(self):
        if self.leased:
            self.leases.release(self.leased)
            self.leased = []

    def add_listener(self, source="connections-udp.xml", name="listener-connections.xml"):
        """A copy of a connections file whose readers are transient local:
        a listener started before the server still gets the events the
        server publishes while discovery is matching the two."""
        self.write(name, with_element(self.read(source), "BackFillHistory", "true"))
        return self.file(name)

    def add_security(self, pki, roles, source="connections-udp.xml", governance="governance.smime",
                     name="connections-{role}.xml"):
        """{role: connections file} with each role's identity."""
        plain = self.read(source)
        files = {}
        for role in roles:
            files[role] = self.file(name.format(role=role))
            with open(files[role], "w") as f:
                f.write(with_security(plain, pki, role, governance))
        return files


def bind_failure(server_output):
    """The management port the server could not bind because it was in use, or None."""
    m = BIND_FAILURE.search(server_output)
    return int(m.group(1)) if m else None


# --- Processes ----------------------------------------------------------------------


def emulator_prefix(emulator):
    """[emulator] when arm64 programs must be started through it (no
    binfmt_misc rule enabled for them), else []."""
    if not emulator:
        return []
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-aarch64") as f:
            if f.readline().strip() == "enabled":
                return []
    except OSError:
        pass
    return [emulator]


def wait_until(condition, seconds, what, poll=0.05):
    """The first true value of condition() within `seconds`; RigError after."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise RigError("timed out waiting for " + what)
        time.sleep(poll)


def stop_pid(pid, seconds=10.0, sig=signal.SIGTERM):
    """Signals a process that is not our child, waits up to `seconds` for it
    to end, then kills it. True when it ended on the signal."""
    try:
        os.kill(pid, sig)
    except ProcessLookupError:
        return True
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process_start_time(pid) is None or _zombie(pid):
            return True
        time.sleep(0.05)
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        return True
    return False


def _zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except (OSError, IndexError):
        return True


class Process:
    """A child process with its output in a log file."""

    def __init__(self, name, argv, log_dir, env=None, prefix=(), stdout=None):
        self.name = name
        self.out = os.path.join(log_dir, name + ".out")
        self.err = os.path.join(log_dir, name + ".err")
        with open(self.out, "ab") as out, open(self.err, "ab") as err:
            self.p = subprocess.Popen(list(prefix) + list(argv), stdout=stdout or out, stderr=err, env=env,
                                      stdin=subprocess.DEVNULL)

    @property
    def pid(self):
        return self.p.pid

    def alive(self):
        return self.p.poll() is None

    def log(self, stream="out"):
        try:
            with open(self.out if stream == "out" else self.err, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    def stop(self, seconds=10.0, sig=signal.SIGTERM):
        """(seconds from the signal to the exit, exit status or None when it
        had to be killed)."""
        if self.p.poll() is not None:
            return 0.0, self.p.returncode
        t0 = time.monotonic()
        self.p.send_signal(sig)
        try:
            status = self.p.wait(seconds)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
            return time.monotonic() - t0, None
        return time.monotonic() - t0, status


class Group:
    """The processes of one run, stopped in reverse order of their start."""

    def __init__(self, log_dir, env=None, prefix=(), scale=1.0):
        self.log_dir = log_dir
        self.env = env
        self.prefix = list(prefix)
        self.scale = scale
        self.procs = []

    def start(self, name, argv, **kw):
        p = Process(name, argv, self.log_dir, env=kw.pop("env", self.env), prefix=kw.pop("prefix", self.prefix), **kw)
        self.procs.append(p)
        return p

    def forget(self, proc):
        if proc in self.procs:
            self.procs.remove(proc)

    def stop(self, proc, seconds=10.0, sig=signal.SIGTERM):
        result = proc.stop(seconds * self.scale, sig)
        self.forget(proc)
        return result

    def stop_all(self, seconds=5.0):
        for p in reversed(list(self.procs)):
            p.stop(seconds * self.scale)
        self.procs = []

    def start_fpga(self, fpga_bin, root, extra=("--remove",), seconds=10.0):
        """The FPGA simulator on the root's devices file, awaited until it
        has filled the memory file."""
        ready = os.path.join(root.path, "fpga.ready")
        p = self.start("fpga", [fpga_bin, "--memory", root.devmem, "--ready-file", ready, *extra, root.devices])
        wait_until(lambda: os.path.exists(ready) or not p.alive(), seconds * self.scale, "the FPGA simulator")
        if not p.alive():
            raise RigError("the FPGA simulator ended: " + p.log("err") + p.log("out"))
        return p


# --- Command line ---------------------------------------------------------------------


def _ports(text):
    ports = [int(x) for x in text.split(",") if x]
    if len(ports) != 3 or not all(0 < p < 65536 for p in ports):
        raise argparse.ArgumentTypeError("three ports 1..65535, comma-separated")
    return ports


def main(argv=None):
    parser = argparse.ArgumentParser(prog="scripts/rig", description=__doc__.splitlines()[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("lay-out", help="lay out a runtime root; prints NAME=value lines for the shell")
    p.add_argument("--root", required=True, help="the (existing or new) folder")
    p.add_argument("--domain", type=int, required=True)
    p.add_argument("--config", help="configuration folder (default: the repository's config/)")
    p.add_argument("--victory", help="folder of the VICTORY samples (default: CONFIG/victory or CONFIG)")
    p.add_argument("--geoid", help="geoid file copied to ROOT/geoids/")
    p.add_argument("--debug", choices=("true", "false"))
    p.add_argument("--pri", type=int)
    p.add_argument("--update-period", type=int, help="every VCL file's updatePeriod, ms")
    p.add_argument("--data-ports", type=_ports, help="the services' data bus ports (default: leased)")
    p.add_argument("--no-ports", action="store_true", help="leave the ports to a later set-ports")
    p.add_argument("--owner", type=int, default=os.getppid(), help="process holding the leases (default: the caller)")
    p.add_argument("--security", metavar="PKI", help="connections-ROLE.xml per --role with identities from PKI")
    p.add_argument("--role", action="append", default=[])
    p.add_argument("--governance", default="governance.smime")
    p.add_argument("--security-name", default="connections-{role}.xml", help="file name of each role's file")
    p.add_argument("--listener", action="store_true", help="also config/listener-connections.xml")
    p.add_argument("--listener-from", default="connections-udp.xml", help="the file the listener's is made from")
    p.add_argument("--server-connections", help="the file (in ROOT/config) the server's top-level file names")

    p = sub.add_parser("set-ports", help="the services' ports in a laid-out root; prints them")
    p.add_argument("--root", required=True)
    p.add_argument("--data-ports", type=_ports, help="the services' data bus ports (default: leased)")
    p.add_argument("--owner", type=int, default=os.getppid())

    p = sub.add_parser("connections", help="the connections file the server's top-level file names")
    p.add_argument("--root", required=True)
    p.add_argument("file")

    p = sub.add_parser("ports", help="lease N ports to the caller (or --owner); prints one a line")
    p.add_argument("count", type=int)
    p.add_argument("--owner", type=int, default=os.getppid())

    p = sub.add_parser("release", help="end the leases of these ports")
    p.add_argument("ports", type=int, nargs="+")

    p = sub.add_parser("stop", help="SIGTERM to each PID, SIGKILL after --seconds")
    p.add_argument("pids", type=int, nargs="+")
    p.add_argument("--seconds", type=float, default=10.0)

    p = sub.add_parser("wait", help="wait until FILE exists (or contains --text) while --pid lives")
    p.add_argument("file")
    p.add_argument("--text")
    p.add_argument("--pid", type=int)
    p.add_argument("--seconds", type=float, default=30.0)

    p = sub.add_parser("security", help="a connections file with a role's identity (to standard output)")
    p.add_argument("connections")
    p.add_argument("--pki", required=True)
    p.add_argument("--role", required=True)
    p.add_argument("--governance", default="governance.smime")

    a = parser.parse_args(argv)
    try:
        if a.command == "lay-out":
            return _lay_out(a)
        if a.command == "set-ports":
            root = Root(os.path.abspath(a.root), None)
            root.set_ports(a.data_ports, a.owner)
            _print_ports(root)
            return 0
        if a.command == "connections":
            root = Root(os.path.abspath(a.root), None)
            root.write("ZOziDaZodOduzuz.xml", with_element(root.read("ZOziDaZodOduzuz.xml"), "Connections",
                                                           os.path.abspath(a.file)))
            return 0
        if a.command == "ports":
            print("\n".join(str(p) for p in PortLeases().lease(a.count, a.owner)))
            return 0
        if a.command == "release":
            PortLeases().release(a.ports)
            return 0
        if a.command == "stop":
            return 0 if all([stop_pid(pid, a.seconds) for pid in a.pids]) else 1
        if a.command == "wait":
            return _wait(a)
        if a.command == "security":
            with open(a.connections) as f:
                sys.stdout.write(with_security(f.read(), a.pki, a.role, a.governance))
            return 0
    except (RigError, OSError) as e:
        print("rig: %s" % e, file=sys.stderr)
        return 1
    return 2


def _lay_out(a):
    root = Root(os.path.abspath(a.root), a.domain, a.config, a.victory, a.geoid)
    root.lay_out(debug=None if a.debug is None else a.debug == "true", pri=a.pri, update_period_ms=a.update_period)
    if a.security:
        root.add_security(a.security, a.role, governance=a.governance, name=a.security_name)
    if a.listener:
        root.add_listener(a.listener_from)
    if a.server_connections:
        root.write("ZOziDaZodOduzuz.xml", with_element(root.read("ZOziDaZodOduzuz.xml"), "Connections",
                                                       root.file(a.server_connections)))
    if not a.no_ports:
        root.set_ports(a.data_ports, a.owner)
        _print_ports(root)
    return 0


def _print_ports(root):
    print("data_ports=%s" % ",".join(str(p) for p in root.data_ports))
    print("management_ports=%s" % ",".join(str(p) for p in root.management_ports))


def _wait(a):
    scale = timeout_scale()

    def ready():
        if a.text is None:
            return os.path.exists(a.file)
        try:
            with open(a.file, "rb") as f:
                return a.text.encode() in f.read()
        except OSError:
            return False

    deadline = time.monotonic() + a.seconds * scale
    while time.monotonic() < deadline:
        if ready():
            return 0
        if a.pid and (process_start_time(a.pid) is None or _zombie(a.pid)):
            return 0 if ready() else 1
        time.sleep(0.05)
    return 1


if __name__ == "__main__":
    sys.exit(main())
