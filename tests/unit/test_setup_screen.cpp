// The setup screen's prompts: key editing rules, the order of the questions,
// invalid answers asked again, the offered height and the bytes written.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/setup_screen.h"
#include "test_support.h"

namespace {

int key_value(int scancode, int character) { return (scancode << 8) | character; }

TEST(PromptKeys, EditingRules) {
  const struct {
    std::string before;
    int key, result;
    std::string after;
  } cases[] = {
      {"ab", key_value(KEY_TILDE, '~'), PROMPT_CHANGED, "ab~"},
      {"ab", key_value(KEY_SPACE, ' '), PROMPT_CHANGED, "ab "},
      {"123456789012345", key_value(KEY_X, 'x'), PROMPT_IGNORED, "123456789012345"},  // full
      {"ab", key_value(KEY_BACKSPACE, 8), PROMPT_CHANGED, "a"},
      {"", key_value(KEY_BACKSPACE, 8), PROMPT_IGNORED, ""},
      {"", key_value(KEY_ENTER, 13), PROMPT_DONE, ""},
      {"", key_value(KEY_LEFT, 0), PROMPT_IGNORED, ""},
      {"", key_value(KEY_DEL, 127), PROMPT_IGNORED, ""},
      {"", key_value(KEY_ENTER_PAD, 13), PROMPT_IGNORED, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << '"' << c.before << "\" key " << std::hex << c.key);
    char buffer[16];
    strcpy(buffer, c.before.c_str());
    EXPECT_EQ(prompt_apply_key(buffer, sizeof buffer, c.key), c.result);
    EXPECT_EQ(std::string(buffer), c.after);
  }
}

// A scripted user: each question is answered with the next text of the script,
// which replaces the offered text as if it had been erased and typed.
std::deque<std::string> answers;
std::vector<std::string> asked;  // "prompt|offered text"

void scripted_ask(const char* prompt, char* buffer, int size) {
  asked.push_back(std::string(prompt) + "|" + buffer);
  ASSERT_FALSE(answers.empty()) << "unexpected question " << prompt;
  std::string answer = answers.front();
  answers.pop_front();
  buffer[0] = '\0';
  for (char c : answer) prompt_apply_key(buffer, size, c);
}

bool run(const char* path, std::deque<std::string> script) {
  answers = std::move(script);
  bool ok = setup_screen_with(path, scripted_ask);
  EXPECT_TRUE(answers.empty()) << "questions left unasked";
  return ok;
}

// Invalid answers are asked again, offering what was typed: a port that is
// no number or empty shows 0, and keeps its low 16 bits; widths below 640 and
// heights below 480 are refused; an accepted width offers three quarters of
// it as the height. Empty names are accepted. The answers are written to the
// file, or the questions fail after all were asked.
TEST(SetupScreen, InvalidAnswersAreAskedAgainTheAnswersWrittenOrFailAfterAllQuestions) {
  testsupport::TempDir dir;
  ASSERT_TRUE(run("client.cfg", {"", "abc", "", "0", "70000", "", "639", "1024", "479", "", "600",
                                 "Yes"}));
  std::vector<std::string> expected = {
      "Server name:|" EASEL_DEFAULT_SERVER, "Server port:|2020", "Server port:|0",
      "Server port:|0", "Server port:|0", "Username:|guest", "Screen width:|800",
      "Screen width:|639", "Screen height:|768", "Screen height:|479", "Screen height:|0",
      "Fullscreen:|yes"};
  EXPECT_EQ(asked, expected);
  EXPECT_EQ((std::vector<int>{config.server_port, config.screen_w, config.screen_h,
                              config.fullscreen}),
            (std::vector<int>{4464, 1024, 600, 1}));
  EXPECT_STREQ(config.server_name, "");
  EXPECT_STREQ(config.user_name, "");
  ASSERT_TRUE(run("client.cfg", {"paint.host", "2021", "ann", "1024", "768", "no"}));
  std::ifstream in("client.cfg", std::ios::binary);
  std::string expected_bytes = std::string("paint.host") + std::string(246, '\0') + "\xE5\x07" +
                               "ann" + std::string(13, '\0') +
                               std::string("\x00\x04\x00\x03\x00\x04\x00", 7);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected_bytes);
  EXPECT_FALSE(run("no/such/dir/client.cfg", {"h", "1", "u", "640", "480", "y"}));
  EXPECT_EQ(config.fullscreen, 1);  // "y" as well as "Yes"
}

}  // namespace
