"""The soak's measurements (bench/soak): what it reads from a VICTORY data
message, when it places the first tell of a run of new data, its
percentiles, and which /dev/shm entries it accepts as kept by design."""

import importlib.machinery
import importlib.util
import os
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def load_soak():
    loader = importlib.machinery.SourceFileLoader("soak", os.path.join(REPO, "bench", "soak"))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("soak", loader))
    loader.exec_module(module)
    return module


soak = load_soak()

# A data message as the services send it (one line).
MESSAGE = ('<VictoryData service="position" source="S" seq="7">'
           '<Value name="latitude" unit="rad" value="0.8" uncertainty="1e-6" basis="{basis}"/>'
           '<Value name="longitude" unit="rad" value="0.2" uncertainty="1e-6" basis="MEASURED"/>'
           '{time}{told}<Faults count="0"/></VictoryData>')
TIME = '<Time year="2024" month="1" day="2" hour="12" minute="0" second="18" nanosecond="250000000"/>'
TOLD = '<Told count="42" realtime="1704196818.500000000"/>'


class ParseMessageTest(unittest.TestCase):
    def test_fields(self):
        # (basis, time, told) -> (live, tov, told, count)
        cases = [
            ("live", ("MEASURED", TIME, TOLD), (True, 1704196818.25, 1704196818.5, 42)),
            ("placeholder value", ("PLACEHOLDER", TIME, TOLD), (False, 1704196818.25, 1704196818.5, 42)),
            ("no time: not live", ("MEASURED", "", TOLD), (False, None, 1704196818.5, 42)),
            ("never told", ("MEASURED", TIME, ""), (True, 1704196818.25, None, 0)),
        ]
        for name, (basis, time, told), (live, tov, told_at, count) in cases:
            with self.subTest(name):
                service, got_live, got_tov, got_told, got_count = soak.parse_message(
                    MESSAGE.format(basis=basis, time=time, told=told).encode())
                self.assertEqual(service, "position")
                self.assertEqual((got_live, got_count), (live, count))
                for got, want in ((got_tov, tov), (got_told, told_at)):
                    if want is None:
                        self.assertIsNone(got)
                    else:
                        self.assertAlmostEqual(got, want, places=6)

    def test_not_a_message(self):
        with self.assertRaises(soak.ET.ParseError):
            soak.parse_message(b"<VictoryData")


class MeasurementTest(unittest.TestCase):
    def test_first_tell(self):
        # The worker tells once per 250 ms cycle: a message whose count rose
        # by n since `previous` carries the n-th tell; the first was
        # (n - 1) cycles before.
        message = {"told": 100.0, "count": 5}
        for previous, wanted in ((4, 100.0), (1, 99.25), (0, 99.0), (5, 100.0), (9, 100.0)):
            with self.subTest(previous=previous):
                self.assertAlmostEqual(soak.first_tell(message, previous), wanted)

    def test_percentile(self):
        values = list(range(1, 101))
        for p, wanted in ((50, 50), (99, 99), (100, 100), (0, 1)):
            with self.subTest(p=p):
                self.assertEqual(soak.percentile(values, p), wanted)
        self.assertEqual(soak.percentile([3.0], 99), 3.0)
        self.assertNotEqual(soak.percentile([], 50), soak.percentile([], 50))  # NaN

    def test_shared_memory_kept_by_design(self):
        for entry, kept in (("fastrtps_port7411", True), ("sem.fastrtps_port7411_mutex", True),
                            ("fastrtps_7a1b2c3d4e5f", False), ("sem.fastrtps_7a1b_mutex", False),
                            ("fastrtps_port7411_el", False)):
            with self.subTest(entry=entry):
                self.assertEqual(bool(soak.KEPT_BY_DESIGN.match(entry)), kept)


if __name__ == "__main__":
    unittest.main()
