"""Tests of the board virtual machine's pure logic (tools/board-vm/boardvm_logic.py)."""

import os
import sys
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(REPO / "tools" / "board-vm"))
import boardvm_logic as logic  # noqa: E402

VIRT_DTS = """/dts-v1/;

/ {
\tinterrupt-parent = <0x8002>;
\t#size-cells = <0x02>;
\t#address-cells = <0x02>;
\tcompatible = "linux,dummy-virt";

\tmemory@40000000 {
\t\treg = <0x00 0x40000000 0x00 0x40000000>;
\t\tdevice_type = "memory";
\t};

\tchosen {
\t};
};
"""


def devices(*blocks):
    body = "".join(f"<IODevice><Name>{n}</Name><Parameters><BaseAddress>{b}</BaseAddress><Size>{s}</Size>"
                   "</Parameters></IODevice>" for n, b, s in blocks)
    return f"<?xml version='1.0'?><CV_Configurations>{body}</CV_Configurations>"


class DevicesAndWindow(unittest.TestCase):
    def test_the_sample_devices_file_gives_the_window_the_boot_reserves(self):
        text = (REPO / "config" / "devices.xml").read_text()
        blocks = logic.parse_devices(text)
        start, size = logic.fpga_window(blocks, 1024)
        self.assertEqual(start, 0x43C00000)
        self.assertEqual(start % logic.PAGE, 0)
        self.assertEqual(size % logic.PAGE, 0)
        for name, base, length in blocks:
            with self.subTest(block=name):
                self.assertGreaterEqual(base, start)
                self.assertLessEqual(base + length, start + size)

    def test_numbers_in_each_notation(self):
        for text, value in [("0x43C00000", 0x43C00000), ("4096", 4096), ("010000", 0o10000), (" 0X10 ", 16)]:
            with self.subTest(text=text):
                self.assertEqual(logic.parse_number(text), value)
        for text in ["", "0x", "-1", "12a", "0x1g", "08"]:
            with self.subTest(text=text), self.assertRaises(logic.BoardVmError):
                logic.parse_number(text)

    def test_window_bounds(self):
        # (blocks, RAM MiB, expected window or None for a refusal)
        cases = [
            ([("a", 0x43C00000, 0x1000)], 1024, (0x43C00000, 0x1000)),
            ([("a", 0x43C00010, 0x10)], 1024, (0x43C00000, 0x1000)),  # page aligned both ends
            ([("a", 0x43C00000, 0x1000), ("b", 0x43C80000, 0x1001)], 1024, (0x43C00000, 0x82000)),
            ([("a", 0x40200000, 0x1000)], 1024, None),  # over the kernel
            ([("a", 0x47FFF000, 0x2000)], 1024, None),  # into the initrd
            ([("a", 0x43C00000, 0x1000)], 64, None),  # RAM too small: initrd at 32 MiB
            ([("a", 0x10000000, 0x1000)], 1024, None),  # below RAM
        ]
        for blocks, ram, want in cases:
            with self.subTest(blocks=blocks, ram=ram):
                if want is None:
                    with self.assertRaises(logic.BoardVmError):
                        logic.fpga_window(blocks, ram)
                else:
                    self.assertEqual(logic.fpga_window(blocks, ram), want)

    def test_bad_devices_files_are_named(self):
        cases = [
            ("<CV_Configurations>", "not XML"),
            ("<CV_Configurations/>", "no register blocks"),
            (devices(("a", "0x1000", "")).replace("<Size></Size>", ""), "lacks BaseAddress or Size"),
        ]
        for text, message in cases:
            with self.subTest(text=text), self.assertRaisesRegex(logic.BoardVmError, message):
                logic.parse_devices(text, "devices.xml")


class DeviceTree(unittest.TestCase):
    def test_reservation_is_a_no_map_child_of_the_root(self):
        out = logic.add_reserved_memory(VIRT_DTS, 0x43C00000, 0x82000)
        root_body = out[out.index("/ {"):]
        self.assertIn("reg = <0x0 0x43c00000 0x0 0x82000>;", out)
        self.assertIn("no-map;", out)
        # Inside the root node: before its closing brace, after chosen.
        self.assertLess(out.index("chosen"), out.index("reserved-memory"))
        self.assertTrue(root_body.rstrip().endswith("};"))
        self.assertEqual(out.count("{"), out.count("}"))

    def test_addresses_above_4_gib_use_both_cells(self):
        out = logic.add_reserved_memory(VIRT_DTS, 0x1_2000_0000, 0x1_0000_0000)
        self.assertIn("reg = <0x1 0x20000000 0x1 0x0>;", out)

    def test_refusals(self):
        once = logic.add_reserved_memory(VIRT_DTS, 0x43C00000, 0x1000)
        for dts in [once, "/dts-v1/;\n", "no tree"]:
            with self.subTest(dts=dts[:20]), self.assertRaises(logic.BoardVmError):
                logic.add_reserved_memory(dts, 0x43C00000, 0x1000)


class Packages(unittest.TestCase):
    def test_depends_fields(self):
        cases = [
            ("libc6 (>= 2.34), libfastrtps2.9 (>= 2.9.1+ds-1+deb12u2+corvane1)", ["libc6", "libfastrtps2.9"]),
            ("a | b, c:any, d [arm64], e:arm64 (>= 1)", ["a", "c", "d", "e"]),
            ("x, x (>= 2), , y", ["x", "y"]),
            ("", []),
        ]
        for field, want in cases:
            with self.subTest(field=field):
                self.assertEqual(logic.depends_packages(field), want)

    def test_the_image_has_the_base_set_and_the_dependencies_but_no_virtual_package(self):
        packages = logic.image_packages("libfastrtps2.9 (>= 2.9.1), systemd, libvictory5, fastdds-tools")
        self.assertEqual(packages, sorted(packages))
        for p in ("libfastrtps2.9", "fastdds-tools", "systemd-coredump", "udev", "linux-image-arm64"):
            with self.subTest(package=p):
                self.assertIn(p, packages)
        self.assertNotIn("libvictory5", packages)

    def test_only_replacements_of_image_packages_are_taken(self):
        debs = [("a/libfastrtps2.9_2.9.1+corvane1_arm64.deb", "libfastrtps2.9"),
                ("a/libfastrtps-dev_2.9.1+corvane1_arm64.deb", "libfastrtps-dev"),
                ("a/fastdds-tools_2.9.1+corvane1_arm64.deb", "fastdds-tools"),
                ("a/libfastrtps2.9-dbgsym_2.9.1_arm64.deb", "libfastrtps2.9-dbgsym")]
        got = logic.select_extra_debs(debs, ["libfastrtps2.9", "fastdds-tools", "udev"])
        self.assertEqual([p for _, p in got], ["libfastrtps2.9", "fastdds-tools"])

    def test_cache_key_changes_with_any_input_and_not_otherwise(self):
        base = logic.cache_key("image", "bookworm", "udev")
        self.assertEqual(base, logic.cache_key("image", "bookworm", "udev"))
        for parts in [("image", "trixie", "udev"), ("image", "bookworm", "udev", "x"),
                      ("image", "bookwormudev"), ("image", "bookworm", b"udev\n")]:
            with self.subTest(parts=parts):
                self.assertNotEqual(base, logic.cache_key(*parts))

    def test_versions(self):
        for old, new in [("1.0.0-1", "1.0.0-2"), ("1.0.0-9", "1.0.0-10"), ("1.0.0", "1.0.0-1"),
                         ("2.9.1+ds-1+deb12u2", "2.9.1+ds-1+deb12u2-1")]:
            with self.subTest(version=old):
                self.assertEqual(logic.next_version(old), new)
        control = "Package: corvane-pnt-server\nVersion: 1.0.0-1\nDepends: libc6 (>= 2.34)\n"
        self.assertEqual(logic.with_version(control, "1.0.0-2"),
                         "Package: corvane-pnt-server\nVersion: 1.0.0-2\nDepends: libc6 (>= 2.34)\n")
        with self.assertRaises(logic.BoardVmError):
            logic.with_version("Package: x\n", "1")
        self.assertEqual(logic.md5sums_line("ab" * 16, "/opt/corvane/config/devices.xml"),
                         "ab" * 16 + "  opt/corvane/config/devices.xml\n")


class Verdict(unittest.TestCase):
    def test_verdicts(self):
        # (status file, checks file, passed, failure texts expected among the failures)
        cases = [
            ("0\n", "ok install: x\nok user: y\nskip z: w\n", True, []),
            ("0\n", "ok install: x\nFAIL devmem-owner: expected a, got b\n", False, ["devmem-owner: expected a, got b"]),
            ("1\n", "ok install: x\n", False, ["the scenario exited with status 1"]),
            ("", "ok install: x\n", False, ["the scenario did not finish"]),
            ("0\n", "", False, ["no check ran"]),
            ("0\n", "skip a: b\n", False, ["no check ran"]),
            ("0\n", "noise\nok a:\n  FAIL indented: still counts\n", False, ["indented: still counts"]),
        ]
        for status, checks, passed, texts in cases:
            with self.subTest(status=status, checks=checks):
                got, failures, _ = logic.verdict(status, checks)
                self.assertEqual(got, passed)
                for t in texts:
                    self.assertIn(t, failures)

    def test_counts_and_timings(self):
        _, _, counts = logic.verdict("0", "ok a: 1\nok b: 2\nskip c: 3\nFAIL d: 4\n")
        self.assertEqual(counts, {"ok": 2, "FAIL": 1, "skip": 1})
        self.assertEqual(logic.timings("boot_to_runner 21.53\nsigkill_to_reports 3\nbad line\nx -1\n"),
                         [("boot_to_runner", 21.53), ("sigkill_to_reports", 3.0)])


if __name__ == "__main__":
    unittest.main()
