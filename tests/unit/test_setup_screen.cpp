// The setup screen's prompts, questions and the file written.
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

TEST(PromptKeys, EditingRules) {
  const struct {
    std::string before;
    int key, result;
    std::string after;
  } cases[] = {
      {"ab", KEY_TILDE << 8 | '~', PROMPT_CHANGED, "ab~"},
      {"ab", KEY_SPACE << 8 | ' ', PROMPT_CHANGED, "ab "},
      {"123456789012345", KEY_X << 8 | 'x', PROMPT_IGNORED, "123456789012345"},  // full
      {"ab", KEY_BACKSPACE << 8 | 8, PROMPT_CHANGED, "a"},
      {"", KEY_BACKSPACE << 8 | 8, PROMPT_IGNORED, ""},
      {"", KEY_ENTER << 8 | 13, PROMPT_DONE, ""},
      {"", KEY_LEFT << 8 | 0, PROMPT_IGNORED, ""},
      {"", KEY_DEL << 8 | 127, PROMPT_IGNORED, ""},
      {"", KEY_ENTER_PAD << 8 | 13, PROMPT_IGNORED, ""},
  };
  for (const auto& c : cases) {
    char buffer[16];
    strcpy(buffer, c.before.c_str());
    EXPECT_EQ(prompt_apply_key(buffer, sizeof buffer, c.key), c.result) << std::hex << c.key;
    EXPECT_EQ(std::string(buffer), c.after) << std::hex << c.key;
  }
}

// A scripted user: each question is answered with the next text of the script,
// which replaces the offered text as if it had been erased and typed. At the
// script's end the program is asked to quit instead.
std::deque<std::string> answers;
std::vector<std::string> asked;  // "prompt|offered text"

bool scripted_ask(const char* prompt, char* buffer, int size) {
  asked.push_back(std::string(prompt) + "|" + buffer);
  if (answers.empty()) return false;
  std::string answer = answers.front();
  answers.pop_front();
  buffer[0] = '\0';
  for (char c : answer) prompt_apply_key(buffer, size, c);
  return true;
}

bool run(const char* path, std::deque<std::string> script) {
  answers = std::move(script);
  bool ok = setup_screen_with(path, scripted_ask);
  EXPECT_TRUE(answers.empty()) << "questions left unasked";
  return ok;
}

// Invalid answers are asked again, offering what was typed (0 for no number);
// the height offered is 3/4 of the width; empty names pass. Then written, or
// failing after all the questions. A quit at any question ends it at once,
// nothing written.
TEST(SetupScreen, InvalidAnswersAreAskedAgainTheAnswersWrittenOrFailAfterAllQuestions) {
  testsupport::TempDir dir;
  ASSERT_TRUE(run("client.cfg", {"", "abc", "", "0", "70000", "", "639", "1024", "479", "", "600",
                                 "Yes"}));
  EXPECT_EQ(asked, (std::vector<std::string>{
                       "Server name:|" EASEL_DEFAULT_SERVER, "Server port:|2020", "Server port:|0",
                       "Server port:|0", "Server port:|0", "Username:|guest", "Screen width:|800",
                       "Screen width:|639", "Screen height:|768", "Screen height:|479",
                       "Screen height:|0", "Fullscreen:|yes"}));
  EXPECT_EQ((std::vector<int>{config.server_port, config.screen_w, config.screen_h,
                              config.fullscreen}),
            (std::vector<int>{4464, 1024, 600, 1}));
  EXPECT_STREQ(config.server_name, "");
  EXPECT_STREQ(config.user_name, "");
  ASSERT_TRUE(run("client.cfg", {"paint.host", "2021", "ann", "1024", "768", "no"}));
  std::ifstream in("client.cfg", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "paint.host" + std::string(246, '\0') + "\xE5\x07" + "ann" + std::string(13, '\0') +
                std::string("\x00\x04\x00\x03\x00\x04\x00", 7));
  EXPECT_FALSE(run("no/such/dir/client.cfg", {"h", "1", "u", "640", "480", "y"}));
  EXPECT_EQ(config.fullscreen, 1);  // "y" as well as "Yes"
  for (size_t given : {0, 3, 5}) {
    std::deque<std::string> script = {"h", "1", "u", "640", "480", "y"};
    script.resize(given);
    asked.clear();
    EXPECT_FALSE(run("quit.cfg", script));
    EXPECT_EQ(asked.size(), given + 1);
  }
  EXPECT_FALSE(std::ifstream("quit.cfg").good());
}

}  // namespace
