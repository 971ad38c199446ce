"""The runtime-root rig (scripts/lib/rig.py): configuration rewrites, port
leases, the laid-out root and the process helpers."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "scripts", "lib"))
import rig  # noqa: E402


class RewriteTest(unittest.TestCase):
    def test_rewrites(self):
        conn = "<T><DomainId>0</DomainId><TcpPort>5100</TcpPort><BackFillHistory>false</BackFillHistory></T>"
        cases = [
            ("domain", rig.with_domain(conn, 57), "<DomainId>57</DomainId>"),
            ("element", rig.with_element(conn, "BackFillHistory", "true"), "<BackFillHistory>true</BackFillHistory>"),
            # A value with a backslash or group reference is written as is.
            ("literal value", rig.with_element("<C>x</C>", "C", r"/a\1b"), r"<C>/a\1b</C>"),
            ("opt-ins after TcpPort", rig.with_opt_ins(conn, "<X>1</X>"), "<TcpPort>5100</TcpPort><X>1</X>"),
            ("update period", rig.with_update_period('<p name="updatePeriod" value="1000"/>', 20),
             '<p name="updatePeriod" value="20"/>'),
        ]
        for name, text, wanted in cases:
            with self.subTest(name):
                self.assertIn(wanted, text)

    def test_with_port_sets_only_the_named_element(self):
        sample = '<DataBus address="127.0.0.1" port="1"/>\n<Management port="2"/>\n<Management port="3"/>'
        text = rig.with_port(rig.with_port(sample, "DataBus", 7001), "Management", 7002)
        self.assertEqual(text, '<DataBus address="127.0.0.1" port="7001"/>\n<Management port="7002"/>\n'
                               '<Management port="3"/>')
        with self.assertRaises(rig.RigError):
            rig.with_port(sample, "Missing", 1)

    def test_security_goes_inside_the_root_element(self):
        text = rig.with_security("<CV_Configurations>\n  <Transport/>\n</CV_Configurations>\n", "/pki", "navigator",
                                 "governance-encrypt.smime")
        self.assertTrue(text.rstrip().endswith("</Security>\n</CV_Configurations>"))
        for wanted in ("<Certificate>/pki/navigator.pem</Certificate>", "<PrivateKey>/pki/navigator.key</PrivateKey>",
                       "<Governance>/pki/governance-encrypt.smime</Governance>"):
            self.assertIn(wanted, text)
        with self.assertRaises(rig.RigError):
            rig.with_security("<Other/>", "/pki", "server")

    def test_timeout_scale(self):
        for text, wanted in (("", 1.0), ("4", 4.0), ("2.5", 2.5), ("0", 1.0), ("-3", 1.0), ("four", 1.0)):
            with self.subTest(text=text):
                self.assertEqual(rig.timeout_scale({"CORVANE_TIMEOUT_SCALE": text}), wanted)
        self.assertEqual(rig.timeout_scale({}), 1.0)

    def test_port_range(self):
        for text, wanted in (("", rig.DEFAULT_PORT_RANGE), ("5000-5009", (5000, 5009)),
                             ("5009-5000", rig.DEFAULT_PORT_RANGE), ("80-90", rig.DEFAULT_PORT_RANGE),
                             ("x", rig.DEFAULT_PORT_RANGE)):
            with self.subTest(text=text):
                self.assertEqual(rig.port_range({"CORVANE_RIG_PORTS": text}), wanted)

    def test_bind_failure(self):
        line = "ZOziDaZodOduzuz: Position service: management port 127.0.0.1:6321: Address already in use\n"
        self.assertEqual(rig.bind_failure("start\n" + line), 6321)
        self.assertIsNone(rig.bind_failure("management port 127.0.0.1:6321: Permission denied\n"))


class PortLeaseTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="rig-leases.")
        self.addCleanup(shutil.rmtree, self.dir)

    def leases(self, span=(6000, 6009), bindable=lambda port: True):
        return rig.PortLeases(self.dir, span, bindable)

    def test_leases_never_overlap_until_released(self):
        a = self.leases().lease(4)
        b = self.leases().lease(4)
        self.assertEqual(len(set(a + b)), 8)
        self.assertTrue(all(6000 <= p <= 6009 for p in a + b))
        with self.assertRaises(rig.RigError):
            self.leases().lease(3)
        # A failed lease leaves nothing behind: the last two are still free.
        self.assertEqual(len(self.leases().lease(2)), 2)
        self.leases().release(a)
        self.assertEqual(sorted(self.leases().lease(4)), sorted(a))

    def test_ports_in_use_are_skipped(self):
        ports = self.leases(bindable=lambda port: port % 2 == 0).lease(5)
        self.assertEqual(sorted(ports), [6000, 6002, 6004, 6006, 6008])

    def test_lease_of_an_ended_process_is_free(self):
        child = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"])
        try:
            held = self.leases(span=(6000, 6001)).lease(2, owner=child.pid)
            self.assertEqual(self.leases().holder(held[0])[0], child.pid)
            with self.assertRaises(rig.RigError):
                self.leases(span=(6000, 6001)).lease(1)
        finally:
            child.kill()
            child.wait()
        self.assertIsNone(self.leases().holder(held[0]))
        self.assertEqual(sorted(self.leases(span=(6000, 6001)).lease(2)), sorted(held))

    def test_lease_file_of_a_reused_pid_is_free(self):
        # Same pid, other start time: another process than the holder.
        with open(os.path.join(self.dir, "6000"), "w") as f:
            f.write("%d 1\n" % os.getpid())
        self.assertIsNone(self.leases().holder(6000))
        with open(os.path.join(self.dir, "6001"), "w") as f:
            f.write("garbage")
        self.assertIsNone(self.leases().holder(6001))

    def test_no_such_owner(self):
        with self.assertRaises(rig.RigError):
            self.leases().lease(1, owner=2 ** 22 + 12345)

    def test_bindable_sees_a_bound_port(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            self.assertFalse(rig.udp_port_bindable(s.getsockname()[1]))


class RootTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="rig-root.")
        self.addCleanup(shutil.rmtree, self.dir)
        leases = tempfile.mkdtemp(prefix="rig-leases.")
        self.addCleanup(shutil.rmtree, leases)
        self.root = rig.Root(self.dir, 57, leases=rig.PortLeases(leases, (6100, 6199), lambda p: True))

    def test_lay_out_rewrites_the_samples(self):
        geoid = os.path.join(self.dir, "g.pgm")
        with open(geoid, "w") as f:
            f.write("P5")
        self.root.geoid = geoid
        self.root.lay_out(debug=True, pri=12, update_period_ms=20, transports=("udp", "shm"))
        top = self.root.read("ZOziDaZodOduzuz.xml")
        self.assertNotIn("/opt/corvane", top)
        self.assertIn("<Connections>%s/config/connections-udp.xml</Connections>" % self.dir, top)
        self.assertIn("<Debug>true</Debug>", top)
        self.assertIn("<PRI>12</PRI>", top)
        for transport in ("udp", "shm"):
            self.assertIn("<DomainId>57</DomainId>", self.root.read("connections-%s.xml" % transport))
        for _, vcl in rig.SERVICES:
            self.assertIn('name="updatePeriod" value="20"', self.root.read(vcl))
        self.assertTrue(os.path.exists(os.path.join(self.dir, "geoids", "g.pgm")))
        self.assertTrue(os.path.exists(self.root.devices))
        self.assertEqual(self.root.environment(), {"CORVANE_ROOT": self.dir, "CORVANE_DEVMEM": self.dir + "/devmem"})

    def test_ports_are_written_and_released_when_set_again(self):
        self.root.lay_out()
        self.root.set_ports([7001, 7002, 7003])
        first = list(self.root.management_ports)
        for (config, _), data, management in zip(rig.SERVICES, [7001, 7002, 7003], first):
            text = self.root.read(config)
            self.assertRegex(text, r'<DataBus [^>]*port="%d"' % data)
            self.assertIn('<Management port="%d"' % management, text)
        self.root.set_ports()
        self.assertEqual(len(set(self.root.data_ports + self.root.management_ports)), 6)
        self.assertEqual(len(os.listdir(self.root.leases.directory)), 6 + 1)  # and the lock file
        self.root.release_ports()
        self.assertEqual(os.listdir(self.root.leases.directory), [".lock"])

    def test_listener_and_security_files(self):
        self.root.lay_out()
        files = self.root.add_security("/pki", ["server", "monitor"])
        listener = self.root.add_listener(os.path.basename(files["monitor"]))
        with open(listener) as f:
            text = f.read()
        self.assertIn("<BackFillHistory>true</BackFillHistory>", text)
        self.assertIn("<Certificate>/pki/monitor.pem</Certificate>", text)


class ProcessTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="rig-procs.")
        self.addCleanup(shutil.rmtree, self.dir)

    def test_group_stops_in_reverse_order_and_kills_what_ignores_sigterm(self):
        group = rig.Group(self.dir)
        ignoring = group.start("stubborn", [sys.executable, "-c",
                                            "import signal, time; signal.signal(signal.SIGTERM, signal.SIG_IGN); "
                                            "print('ready', flush=True); time.sleep(60)"])
        rig.wait_until(lambda: "ready" in ignoring.log(), 20, "the child")
        seconds, status = group.stop(ignoring, seconds=0.5)
        self.assertIsNone(status)
        self.assertFalse(ignoring.alive())
        order = os.path.join(self.dir, "order")
        for name in ("first", "second"):
            group.start(name, [sys.executable, "-c", "import signal, sys, time\n"
                               "def done(*_):\n open(%r, 'a').write('%s\\n'); sys.exit(0)\n"
                               "signal.signal(signal.SIGTERM, done)\nprint('up', flush=True)\ntime.sleep(60)"
                               % (order, name)])
        rig.wait_until(lambda: all("up" in p.log() for p in group.procs), 20, "the children")
        group.stop_all()
        with open(order) as f:
            self.assertEqual(f.read().split(), ["second", "first"])

    def test_wait_until(self):
        self.assertEqual(rig.wait_until(lambda: 42, 1, "x"), 42)
        t0 = time.monotonic()
        with self.assertRaisesRegex(rig.RigError, "timed out waiting for nothing"):
            rig.wait_until(lambda: None, 0.1, "nothing", poll=0.01)
        self.assertLess(time.monotonic() - t0, 10)

    def test_stop_pid_of_a_process_that_is_not_ours(self):
        p = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"])
        try:
            self.assertTrue(rig.stop_pid(p.pid, 10))
        finally:
            p.kill()
            p.wait()

    def test_command_line_lays_out_and_leases_to_the_caller(self):
        leases = tempfile.mkdtemp(prefix="rig-leases.")
        self.addCleanup(shutil.rmtree, leases)
        env = dict(os.environ, CORVANE_RIG_LEASES=leases, CORVANE_RIG_PORTS="6300-6399")
        out = subprocess.run([os.path.join(REPO, "scripts", "rig"), "lay-out", "--root", self.dir, "--domain", "38",
                              "--listener", "--data-ports", "7101,7102,7103"], env=env, check=True,
                             capture_output=True, text=True).stdout
        self.assertIn("data_ports=7101,7102,7103\n", out)
        management = [int(p) for p in out.split("management_ports=")[1].split(",")]
        self.assertTrue(all(6300 <= p <= 6399 for p in management))
        # The leases are this (the calling) process's.
        with open(os.path.join(leases, str(management[0]))) as f:
            self.assertEqual(int(f.read().split()[0]), os.getpid())
        self.assertTrue(os.path.exists(os.path.join(self.dir, "config", "listener-connections.xml")))


if __name__ == "__main__":
    unittest.main()
