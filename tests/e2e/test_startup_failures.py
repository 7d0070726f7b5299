"""Start-up when things go wrong: a graphics mode the graphics library
refuses, and a working directory where no log can be written."""

import os
import stat
import unittest

import harness
from harness import EaselSession, XServer, config_bytes

GRAPHICS_ERROR = "Error initiating graphics. Try deleting client.cfg."


class StartupFailureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer().start()

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def test_refused_graphics_mode_shows_the_message_and_ends_with_1(self):
        # A 16000 x 12000 window needs a 768 MB frame buffer; with the memory
        # the process may take limited to 512 MB the mode cannot be set.
        cfg = config_bytes(16000, 12000, 0, server="nowhere.invalid", user="zoe")
        with EaselSession(self.x, config=cfg, memory_limit_mb=512) as s:
            self.assertEqual(s.wait_exit(), 1, s.stderr())
            self.assertEqual(s.messages(), [GRAPHICS_ERROR + "\n"])
            self.assertEqual(s.read_file("client.cfg"), cfg, "the file is not changed")

    def test_read_only_working_directory_runs_without_a_log(self):
        session = EaselSession(self.x, config=config_bytes(640, 480))
        if os.geteuid() == 0:
            # Root writes anywhere: run the client as an unprivileged user.
            session.run_as_nobody()
        os.chmod(session.workdir, stat.S_IRUSR | stat.S_IXUSR | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH
                 | stat.S_IXOTH)
        with session as s:
            s.wait_window(640, 480)
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0, s.stderr())
            self.assertFalse(s.exists("client.log"))
            # Nothing but the failed log ever reaches standard error.
            err = s.stderr()
            if err:
                self.assertTrue(err.startswith("Unable to open client.log, missing entry was: "), err)
                self.assertFalse(err.endswith("\n"), err)
            self.assertEqual(s.read_file("client.cfg"), config_bytes(640, 480))


if __name__ == "__main__":
    harness.main()
