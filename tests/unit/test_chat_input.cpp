// The chat input line, the slash commands and their frames on the wire.
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "paint/random.h"
#include "server_link_fixture.h"
#include "ui/chat_input.h"
#include "session/eight_ball.h"

using namespace testsupport;

namespace {

class ChatCommands : public ServerLink {
 protected:
  // The system lines a command adds, without their colour prefix.
  Lines run(const char* text) {
    chat_log_reset();
    run_chat_command(text);
    Lines out;
    for (const std::string& line : chat_lines()) out.push_back(line.substr(2));
    return out;
  }
};

#define TXT "\xFF\xFF"
#define SYS "\xFF\xFC"

// Command frames are sent and not queued. A chat line that cannot be queued
// (the queue's 16-bit count is exhausted) is shown and ends the connection.
TEST_F(ChatCommands, CommandFramesAreSentAndNotQueuedAndAChatLineThatCannotBeQueuedDisconnects) {
  login();
  roster_set_name(&board.roster, 4, "Bob");
  roster_set_name(&board.roster, 6, "bonnie");
  const struct {
    const char* command;
    Bytes frame;
  } cases[] = {
      {"restart", {0x09, 0x01, 0x00, 0x01}},
      {"k bon", {0x0A, 0x01, 0x00, 0x06}},
      {"kick BOB", {0x0A, 0x01, 0x00, 0x04}},
      {"kick +260", {0x0A, 0x01, 0x00, 0x04}},  // the low byte is the id
      {"motd secret", frame_bytes(MSG_MOTD, concat({text_bytes("secret"), text_bytes("")}))},
      {"  MOTD   secret   Hello  wide world ",
       frame_bytes(MSG_MOTD, concat({text_bytes("secret"), text_bytes("Hello  wide world ")}))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(run(c.command), Lines{});
    EXPECT_EQ(queue_count(&board.command_queue), 0);
    step();
    EXPECT_EQ(receive_frame(), c.frame);
    EXPECT_FALSE(readable(peer, 0));
  }
  Message empty;
  message_init(&empty, MSG_PEN);
  while (queue_push(&board.command_queue, &empty)) {
  }
  send_chat_line("last words");
  EXPECT_FALSE(board.connected);
  const Lines lines = chat_lines();
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{spoken_line("Ann", "last words"),
                   system_line("Out of memory; forced to disconnect from 127.0.0.1:" +
                               std::to_string(port))}));
}

// Every line a command offers offline; help names every command, and each
// alias gives its command's text. The eight ball's first keyword chooses the
// table; its answers come from the local stream, seeded 1, 2, ... per row.
TEST_F(ChatCommands, LinesOfferedOfflinePinnedEightBallAnswersAndHelpForEveryAlias) {
  Roster* r = &board.roster;
  roster_set_name(r, 12, "Carol");
  roster_set_name(r, 1, "Ann");
  roster_set_name(r, 4, "Bob");
  roster_set_name(r, 6, "bonnie");
  roster_set_name(r, 3, "Gone");
  roster_remove(r, 3);
  const std::string not_connected = "You're not connected to a server.";
  const Lines users = {"Users:", "   1 - Ann", "   4 - Bob", "   6 - bonnie", "  12 - Carol"};
  const struct {
    const char* command;
    Lines lines;
  } cases[] = {
      {"8ball what colour is it", {"Black as night."}},
      {"8ball is it big or when", {"It's a matter of personal preference."}},
      {"8 WHERE is my hue", {"Did you check the lost and found box?"}},
      {"8ball when", {"Not in this lifetime."}},
      {"8ball how MANY", {"A couple."}},
      {"8ball number size", {"More than you could possibly imagine."}},
      {"8ball Color?", {"Without a doubt."}},
      {"8ball small", {"It's a matter of personal preference."}},
      {"", {"Expected a command name. Type " TXT "/help" SYS " for help."}},
      {"restart now", {"Unexpected argument. Type " TXT "/help restart" SYS " for help."}},
      {"reset", {not_connected}},
      {"motd", {"Expected password. Type " TXT "/help motd" SYS " for help."}},
      {"motd pw new text", {not_connected}},
      {"kick", {"Expected user name or id number. Type " TXT "/help kick" SYS " for help."}},
      {"kick bob now", {"Unexpected argument. Type " TXT "/help kick" SYS " for help."}},
      {"kick 3x", {"Unable to parse ID number."}},
      {"kick bo", {"Invalid user."}},
      {"kick g", {"Invalid user."}},  // removed users are skipped
      {"kick 3", {"Invalid ID number."}},
      {"kick 4", {not_connected}},
      {"user", users},
      {"L", users},
      {"user everyone", {"Unexpected argument. Type " TXT "/help user" SYS " for help."}},
      {"help kick now", {"Unexpected argument. Type " TXT "/help help" SYS " for help."}},
      {"help nothing", {"Unknown command. Type " TXT "/help" SYS " to list availible commands."}},
      {"frobnicate", {"Unknown command. Type " TXT "/help" SYS " to list availible commands."}},
      {"8ball", {"How can I answer if you don't know the question?"}},
      {"help", {"Type " TXT "/help [commandname]" SYS " for additional help. Valid commands are:",
                " motd restart user kick help 8ball"}},
  };
  unsigned seed = 1;
  for (const auto& c : cases) {
    seedRandom(seed++);
    EXPECT_EQ(run(c.command), c.lines) << c.command;
    EXPECT_EQ(random_selected_stream(), LOCAL_STREAM);
  }
  send_chat_line("hello");  // refused the same way
  EXPECT_EQ(chat_lines().back(), system_line(not_connected));
  const std::vector<std::vector<const char*>> groups = {
      {"Kick:", "KICK", "k"},        {"Restart:", "restart", "reset", "R"},
      {"Help:", "help", "H", "?"},   {"User:", "user", "users", "LIST", "u", "l"},
      {"8Ball:", "8ball", "8"},      {"MOTD:", "Motd"}};
  for (const auto& g : groups) {
    const Lines first = run((std::string("HeLp ") + g[1]).c_str());
    ASSERT_EQ(4u, first.size()) << g[1];
    EXPECT_EQ(g[0], first[0]);
    for (size_t i = 2; i < g.size(); ++i)
      EXPECT_EQ(first, run((std::string("h ") + g[i]).c_str())) << g[i];
  }
}

// Under the user's locale, which the graphics library's keyboard set-up adopts:
// Turkish folds "I" to a dotless i and French names the months its own way.
// Both are built with localedef into a temporary directory.
TEST_F(ChatCommands, NamesCommandsAndTheLogStampDoNotFollowTheLocale) {
  TempDir dir;
  setenv("LOCPATH", dir.path().c_str(), 1);
  ASSERT_EQ(system("localedef -c -i tr_TR -f UTF-8 ./tr_TR.UTF-8 && "
                   "localedef -c -i fr_FR -f UTF-8 ./fr_FR.UTF-8"),
            0);
  ASSERT_TRUE(setlocale(LC_ALL, "tr_TR.UTF-8"));
  ASSERT_NE(tolower('I'), 'i');
  roster_set_name(&board.roster, 3, "Ivan");
  EXPECT_EQ(roster_find(&board.roster, "iv"), 3);
  EXPECT_EQ(run("LIST"), (Lines{"Users:", "   3 - Ivan"}));
  EXPECT_EQ(run("HELP KICK").front(), "Kick:");
  const char* big[] = {"BIG"};
  EXPECT_EQ(eight_ball_topic(big, 1), EIGHT_BALL_SIZE);
  ASSERT_TRUE(setlocale(LC_ALL, "fr_FR.UTF-8"));
  const std::string stamp = log_timestamp();  // "Dec/07/2026 01:24:06"
  EXPECT_EQ(stamp.size(), 20u) << stamp;
  const std::string months = "Jan/Feb/Mar/Apr/May/Jun/Jul/Aug/Sep/Oct/Nov/Dec/";
  EXPECT_NE(months.find(stamp.substr(0, 4)), std::string::npos) << stamp;
  setlocale(LC_ALL, "C");
}

// See-through magenta, the input line at the bottom and the log above it, redrawn
// in the first frame without a key after a change. The line takes at most 511
// printable characters; Enter (not the keypad's) sends or runs it and empties it.
TEST_F(ChatCommands, PinnedPanelsEditingTheInputLineAndEnter) {
  BITMAP* panel = chat_input_handler(nullptr, 0, 0, 0, 0);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->w, 1024);
  EXPECT_EQ(panel->h, 768 - 42);
  // True when the key redrew the panel.
  auto press = [&](int scancode, int c) {
    return chat_input_handler(panel, 0, scancode << 8 | c, 0, 0) != nullptr;
  };
  auto type = [&](const std::string& text) {
    for (char c : text) EXPECT_FALSE(press(KEY_A, c));
  };
  EXPECT_EQ(583804252048656723u, bitmap_checksum(panel));  // magenta: empty log and line
  EXPECT_EQ(chat_input_handler(panel, 0, 0, 0, 0), nullptr);  // nothing changed
  type("W");
  ASSERT_EQ(chat_input_handler(panel, 0, 0, 0, 0), panel);
  EXPECT_EQ(8111971676915430271u, bitmap_checksum(panel));
  add_chat_line(nullptr, "a notice");
  ASSERT_EQ(chat_input_handler(panel, 0, 0, 0, 0), panel);
  EXPECT_EQ(2417158359278193137u, bitmap_checksum(panel));
  EXPECT_EQ(chat_input_handler(panel, 0, 0, 0, 0), nullptr);

  press(KEY_BACKSPACE, 8);
  type("Hi there!");
  // A backspace is taken; a tab, a control, an escape byte, non-ASCII and no character are not.
  for (int k : {KEY_BACKSPACE << 8 | 8, KEY_TAB << 8 | 9, KEY_I << 8 | 9, KEY_A << 8 | 0xFF,
                KEY_A << 8 | 0xE9, KEY_LEFT << 8})
    chat_input_handler(panel, 0, k, 0, 0);
  EXPECT_STREQ(chat_input.text, "Hi there");
  EXPECT_EQ(chat_input.length, 8);
  type(std::string(520, 'x'));
  EXPECT_EQ(chat_input.length, 511);
  EXPECT_EQ(strlen(chat_input.text), 511u);
  const size_t before = chat_lines().size();
  press(KEY_ENTER_PAD, 13);
  EXPECT_EQ(chat_lines().size(), before);
  press(KEY_ENTER, 13);
  EXPECT_EQ(chat_input.length, 0);
  EXPECT_EQ(chat_lines().back(), system_line("You're not connected to a server."));
  press(KEY_ENTER, 13);  // empty: nothing
  EXPECT_EQ(chat_lines().size(), before + 1);
  type("?");  // one character is a line
  press(KEY_ENTER, 13);
  EXPECT_EQ(chat_lines().size(), before + 2);
  type("/8");
  press(KEY_ENTER, 13);
  EXPECT_EQ(chat_lines().back(), system_line("How can I answer if you don't know the question?"));
  destroy_bitmap(panel);
}

}  // namespace
