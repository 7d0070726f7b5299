"""The frame loop of the real client: keys other than Esc do not quit, Esc
quits with status 0 (also queued behind other keys), and each run appends
exactly one start and one stop line to client.log."""
import re
import time
import unittest

import harness
from harness import EaselSession, XServer, config_bytes

STAMP = r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)/[0-3]\d/\d{4} [0-2]\d:[0-5]\d:[0-6]\d"
RUN = "%s \\[NOTICE\\] Logging Started\\.\n%s \\[NOTICE\\] Logging Stopped\\.\n" % (STAMP, STAMP)


class QuitAndLogTest(unittest.TestCase):
    def test_escape_quits_each_run_and_the_log_keeps_earlier_lines_and_brackets_each_run(self):
        earlier = b"Jan/01/2000 00:00:00 [NOTICE] Logging Started.\n"
        with XServer() as x, EaselSession(x, config=config_bytes(640, 480), files={"client.log": earlier}) as s:
            s.wait_window(640, 480)
            s.key("a", "Return", "F1", "Left")
            time.sleep(0.5)
            self.assertTrue(s.running(), "quit on a key other than Esc")
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0)
            s.start()
            s.wait_window(640, 480)
            s.key("x", "y", "z", "Escape", delay_ms=0)
            self.assertEqual(s.wait_exit(), 0)
            log = s.read_file("client.log").decode()
            self.assertRegex(log, "^" + re.escape(earlier.decode()) + RUN + RUN + "$")
            self.assertEqual(s.read_file("client.cfg"), config_bytes(640, 480), "file unchanged")
            self.assertEqual(s.messages(), [])


if __name__ == "__main__":
    harness.main()
