#!/usr/bin/env python3
"""The phrase list of check_history.py: what it must flag and what it must
leave alone (words with legitimate uses in this tree)."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_history  # noqa: E402

# (line, read as prose (documentation) or as source, flagged)
CASES = [
    ("on the build machine shared with three other engineers' builds", True, True),
    ("Observed before: after a SIGKILL the server answered pings", True, True),
    ("// found the queue empty. Before, the thread ran until it stopped", False, True),
    ("// anything is mapped; before, such a window was mapped", False, True),
    ("// Before the change the handler returned", False, True),
    ("What was tried before the patch, with Debian's library:", True, True),
    ("1 (found later, by a CI regression run)", True, True),
    ("The full run (all rows, defaults; commit `a842dea`, on the same cores)", True, True),
    ("measured from 01:43 to 02:26 on two cores", True, True),
    ("The systemd unit no longer runs the clean-up", True, True),
    # Legitimate uses.
    ("    [victory] position #1 basis=MEASURED time=02:40:23.941Z", True, False),
    ("/// The GPS epoch, 1980-01-06 00:00:00 UTC, in Unix seconds.", False, False),
    ("// Without a transport the reporter is not (or not yet, or no longer) connected", False, False),
    ("`(UDPv4); the service manager's watchdog is no longer fed`", True, False),
    ("the files are checked before the participant is made", True, False),
    ("Rotate well before expiry: the start-up check names it", True, False),
    ('    "watchdog is no longer fed");', False, False),
    ("A health event raised while the server stops is published before the", True, False),
]


class Phrases(unittest.TestCase):
    def test_table(self):
        for line, prose, flagged in CASES:
            with self.subTest(line=line):
                with tempfile.NamedTemporaryFile("w", suffix=".md" if prose else ".cpp", delete=False) as f:
                    f.write(line + "\n")
                try:
                    hits = check_history.hits_in(f.name, "x", prose)
                finally:
                    os.unlink(f.name)
                self.assertEqual(bool(hits), flagged, hits)


if __name__ == "__main__":
    unittest.main()
