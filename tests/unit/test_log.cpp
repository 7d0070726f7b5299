// The log file: line formats, levels, the cut at 1023 characters, opening on
// demand and the behaviour when the file cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/log.h"
#include "test_support.h"

// Unopenable: the text goes to standard error without a line end. Once the file
// can be opened, the next line opens it and the exit closes it (in a child);
// later runs append, and opening or closing twice writes one line. Each level
// writes one labelled line and one echo, cut at 1023 characters; diagnostics
// write nothing anywhere.
TEST(Log, LabelledLinesAndEchoesOnceTheFileCanBeOpened) {
  testsupport::TempDir dir;
  log_close();                               // nothing to close
  log_write(LOG_DEBUG, "diagnostic %d", 1);  // opens nothing: the mkdir below succeeds
  ASSERT_EQ(mkdir("client.log", 0755), 0);
  EXPECT_FALSE(log_open());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  log_write(LOG_WARNING, "lost %s", "line");
  log_write(LOG_DEBUG, "diagnostic");
  log_write(LOG_ERROR, "again");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unable to open client.log, missing entry was: lost line"
            "Unable to open client.log, missing entry was: again");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(rmdir("client.log"), 0);
  EXPECT_EXIT(
      {
        testing::internal::CaptureStdout();
        log_write(LOG_NOTICE, "back");
        exit(0);
      },
      testing::ExitedWithCode(0), "");
  std::string text;
  for (int i = 0; i < 2000; ++i) text += char('a' + i % 26);
  const std::string cut = "[NOTICE] " + text.substr(0, 1023);
  ASSERT_TRUE(log_open());
  EXPECT_TRUE(log_open());
  testing::internal::CaptureStdout();
  log_write(LOG_WARNING, "value %d of %s", 42, "x");
  log_write(LOG_ERROR, "e");
  log_write(LOG_DEBUG, "diagnostic");
  log_write(7, "seven");
  log_write(-1, "minus");
  log_write(LOG_NOTICE, "%s", text.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[WARNING] value 42 of x\n[ERROR] e\n[UNKNOWN] seven\n[UNKNOWN] minus\n" + cut + "\n");
  log_close();
  log_close();
  // Each line after its "Mon/DD/YYYY HH:MM:SS " stamp (whose own form the
  // locale tests pin).
  std::ifstream in("client.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line.size() > 21 ? line.substr(21) : line);
  const std::string started = "[NOTICE] Logging Started.", stopped = "[NOTICE] Logging Stopped.";
  EXPECT_EQ(lines, (std::vector<std::string>{started, "[NOTICE] back", stopped, started, "[WARNING] value 42 of x",
                                             "[ERROR] e", "[UNKNOWN] seven", "[UNKNOWN] minus", cut, stopped}));
  log_reset();
}
