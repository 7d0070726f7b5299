// The log file: line formats, levels, the cut at 1023 characters, opening on
// demand and the behaviour when the file cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "base/log.h"
#include "test_support.h"

namespace {

std::vector<std::string> read_lines(const char* path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool file_exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// A file line: "Mon/DD/YYYY HH:MM:SS [LABEL] text".
void expect_file_line(const std::string& line, const char* label, const std::string& text) {
  static const std::regex stamp(
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)/[0-3][0-9]/[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]");
  ASSERT_GT(line.size(), 20u);
  EXPECT_TRUE(std::regex_match(line.substr(0, 20), stamp)) << line;
  EXPECT_EQ(line.substr(20), std::string(" [") + label + "] " + text);
}

class LogTest : public ::testing::Test {
 protected:
  void TearDown() override { log_reset(); }
  testsupport::TempDir dir;
};

TEST_F(LogTest, RunWithoutMessagesAddsStartAndStopLines) {
  log_close();  // no file yet: nothing to close
  EXPECT_FALSE(file_exists("client.log"));
  std::ofstream("client.log") << "earlier run\n";
  ASSERT_TRUE(log_open());
  EXPECT_TRUE(log_open());  // already open: no second start line
  log_close();
  log_close();  // one stop line only
  auto lines = read_lines("client.log");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier run");
  expect_file_line(lines[1], "NOTICE", "Logging Started.");
  expect_file_line(lines[2], "NOTICE", "Logging Stopped.");
}

TEST_F(LogTest, EachLevelWritesOneLineAndOneEchoUnknownLevelsSayUnknown) {
  ASSERT_TRUE(log_open());
  testing::internal::CaptureStdout();
  log_write(LOG_WARNING, "value %d of %s", 42, "x");
  log_write(LOG_ERROR, "e");
  log_write(LOG_NOTICE, "n");
  log_write(7, "seven");
  log_write(-1, "minus");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[WARNING] value 42 of x\n[ERROR] e\n[NOTICE] n\n[UNKNOWN] seven\n[UNKNOWN] minus\n");
  auto lines = read_lines("client.log");
  const char* expected[][2] = {{"NOTICE", "Logging Started."}, {"WARNING", "value 42 of x"}, {"ERROR", "e"},
                               {"NOTICE", "n"}, {"UNKNOWN", "seven"}, {"UNKNOWN", "minus"}};
  ASSERT_EQ(lines.size(), 6u);
  for (size_t i = 0; i < 6; ++i) expect_file_line(lines[i], expected[i][0], expected[i][1]);
}

TEST_F(LogTest, DebugLinesWriteNothingAnywhere) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  log_write(LOG_DEBUG, "diagnostic %d", 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(file_exists("client.log"));

  // Not even a warning when the file could not be opened.
  ASSERT_EQ(mkdir("client.log", 0755), 0);
  testing::internal::CaptureStderr();
  log_write(LOG_DEBUG, "diagnostic %d", 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(LogTest, LongTextIsCutTo1023Characters) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += char('a' + i % 26);
  testing::internal::CaptureStdout();
  log_write(LOG_NOTICE, "%s", text.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[NOTICE] " + text.substr(0, 1023) + "\n");
  auto lines = read_lines("client.log");
  ASSERT_EQ(lines.size(), 2u);
  expect_file_line(lines[1], "NOTICE", text.substr(0, 1023));
}

TEST_F(LogTest, FirstWriteOpensTheFileAndExitClosesIt) {
  // The exit-time close must write the stop line; run it in a child process.
  EXPECT_EXIT(
      {
        testing::internal::CaptureStdout();
        log_write(LOG_NOTICE, "on demand");
        exit(0);
      },
      testing::ExitedWithCode(0), "");
  auto lines = read_lines("client.log");
  ASSERT_EQ(lines.size(), 3u);
  expect_file_line(lines[0], "NOTICE", "Logging Started.");
  expect_file_line(lines[1], "NOTICE", "on demand");
  expect_file_line(lines[2], "NOTICE", "Logging Stopped.");
}

TEST_F(LogTest, UnopenableFileSendsTheTextToStandardErrorWithoutLineEnd) {
  ASSERT_EQ(mkdir("client.log", 0755), 0);
  EXPECT_FALSE(log_open());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  log_write(LOG_WARNING, "lost %s", "line");
  log_write(LOG_ERROR, "again");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unable to open client.log, missing entry was: lost line"
            "Unable to open client.log, missing entry was: again");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  // Once the file can be opened, the next line opens it after all.
  ASSERT_EQ(rmdir("client.log"), 0);
  testing::internal::CaptureStdout();
  log_write(LOG_NOTICE, "back");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[NOTICE] back\n");
  auto lines = read_lines("client.log");
  ASSERT_EQ(lines.size(), 2u);
  expect_file_line(lines[0], "NOTICE", "Logging Started.");
  expect_file_line(lines[1], "NOTICE", "back");
}

}  // namespace
