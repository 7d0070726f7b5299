#include "ui/chat_input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/message.h"
#include "session/board_session.h"
#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/chat_view.h"
#include "ui/eight_ball.h"
#include "ui/screen.h"

// Colour escapes inside system lines: command names in silver, then back.
#define CC_TEXT_ESC "\xFF\xFF"
#define CC_SYSTEM_ESC "\xFF\xFC"

ChatInput chat_input = {};
bool chat_panel_dirty = true;

namespace {

constexpr int MAX_WORDS = CHAT_INPUT_SIZE / 2 + 1;
constexpr int USER_LINE_SIZE = 128;

// The session's lines counted when the panel was last drawn.
unsigned lines_drawn = 0;

enum ChatCommand { CMD_8BALL, CMD_RESTART, CMD_MOTD, CMD_KICK, CMD_USER, CMD_HELP, CMD_UNKNOWN };

struct CommandInfo {
  ChatCommand command;
  const char* names[6];  // the name first, then the aliases; null-terminated
  const char* help[4];   // title, usage, aliases, description
};

const CommandInfo COMMANDS[] = {
    {CMD_KICK,
     {"kick", "k", nullptr},
     {"Kick:", "Usage: " CC_TEXT_ESC "/kick [user-name|user-id]", "Aliases: kick, k",
      "Description: Votes for a user to leave. User will be kicked if over 50% of users vote "
      "for that user to be kicked. You can only vote for one user at a time, voting a second "
      "time will replace your previous vote. You can type part of a name as long as only one "
      "user matches."}},
    {CMD_RESTART,
     {"restart", "reset", "r", nullptr},
     {"Restart:", "Usage: " CC_TEXT_ESC "/restart", "Aliases: restart, reset, r",
      "Description: Votes for the server to restart. Will restart if over 50% of users vote "
      "for a restart."}},
    {CMD_HELP,
     {"help", "h", "?", nullptr},
     {"Help:", "Usage: " CC_TEXT_ESC "/help [command]", "Aliases: help, h, ?",
      "Description: If you're reading this, you know how to use the help command."}},
    {CMD_USER,
     {"user", "users", "list", "u", "l", nullptr},
     {"User:", "Usage: " CC_TEXT_ESC "/user", "Aliases: user, users, list, u, l",
      "Description: Lists all of the users, with their id numbers."}},
    {CMD_8BALL,
     {"8ball", "8", nullptr},
     {"8Ball:", "Usage: " CC_TEXT_ESC "/8ball [question]", "Aliases: 8ball, 8",
      "Description: The magic 8 Ball knows all. Ask, and it will tell."}},
    {CMD_MOTD,
     {"motd", nullptr},
     {"MOTD:", "Usage: " CC_TEXT_ESC "/motd [password] [new message]", "Aliases: motd",
      "Description: Sets the 'Message of the Day'. Will be seen by all joining users."}},
};

const CommandInfo* find_command(const char* word) {
  for (const CommandInfo& info : COMMANDS)
    for (const char* const* name = info.names; *name; ++name)
      if (ascii_equal_nocase(word, *name)) return &info;
  return nullptr;
}

// The command text split at spaces; each word also remembers where it ends in
// the text, for the commands that take the rest of the line.
struct Words {
  char storage[CHAT_INPUT_SIZE];
  const char* word[MAX_WORDS];
  const char* end_in_text[MAX_WORDS];
  int count;
};

void split_words(const char* text, Words* w) {
  w->count = 0;
  int out = 0;
  const char* p = text;
  const char* stop = text + strnlen(text, CHAT_INPUT_SIZE - 1);
  while (p < stop) {
    while (p < stop && *p == ' ') ++p;
    if (p == stop) break;
    w->word[w->count] = w->storage + out;
    while (p < stop && *p != ' ') w->storage[out++] = *p++;
    w->storage[out++] = '\0';
    w->end_in_text[w->count] = p;
    ++w->count;
  }
}

void system_line(const char* text) { add_chat_line(nullptr, text); }

void unexpected_argument(const char* help_topic) {
  show_message("Unexpected argument. Type " CC_TEXT_ESC "/help %s" CC_SYSTEM_ESC " for help.",
               help_topic);
}

bool online() { return board.connected; }

// Sends a message that the server does not acknowledge, then frees it.
bool send_unqueued(Message* m, bool built) {
  if (built) return board_session_send(&board, m);
  message_free(m);
  return false;
}

void run_restart(const Words& w) {
  if (w.count > 1) return unexpected_argument("restart");
  if (!online()) return system_line("You're not connected to a server.");
  Message m;
  message_init(&m, MSG_RESTART);
  if (!send_unqueued(&m, message_put_byte(&m, 1))) system_line("Error sending restart command.");
}

void run_motd(const Words& w) {
  if (w.count < 2)
    return system_line("Expected password. Type " CC_TEXT_ESC "/help motd" CC_SYSTEM_ESC
                       " for help.");
  const char* message = w.end_in_text[1];
  while (*message == ' ') ++message;
  if (!online()) return system_line("You're not connected to a server.");
  Message m;
  message_init(&m, MSG_MOTD);
  const bool built = message_put_string(&m, w.word[1]) && message_put_string(&m, message);
  if (!send_unqueued(&m, built)) system_line("Error sending motd command.");
}

void run_kick(const Words& w) {
  if (w.count < 2)
    return system_line("Expected user name or id number. Type " CC_TEXT_ESC
                       "/help kick" CC_SYSTEM_ESC " for help.");
  if (w.count > 2) return unexpected_argument("kick");
  const char* target = w.word[1];
  char* rest = nullptr;
  errno = 0;
  const long number = strtol(target, &rest, 10);
  int id;
  if (rest == target) {
    id = roster_find(&board.roster, target);
    if (id == 0) return system_line("Invalid user.");
  } else if (*rest != '\0') {
    return system_line("Unable to parse ID number.");
  } else {
    id = static_cast<int>(static_cast<unsigned long>(number) & 0xFFu);
    if (!roster_exists(&board.roster, id)) return system_line("Invalid ID number.");
  }
  if (!online()) return system_line("You're not connected to a server.");
  Message m;
  message_init(&m, MSG_KICK);
  if (!send_unqueued(&m, message_put_byte(&m, id))) system_line("Error sending kick command.");
}

void run_user(const Words& w) {
  if (w.count > 1) return unexpected_argument("user");
  system_line("Users:");
  for (int id = 1; id <= 254; ++id) {
    if (!roster_exists(&board.roster, id)) continue;
    char line[USER_LINE_SIZE];
    snprintf(line, sizeof line, " %3d - %s", id, roster_name(&board.roster, id));
    system_line(line);
  }
}

void unknown_command() {
  system_line("Unknown command. Type " CC_TEXT_ESC "/help" CC_SYSTEM_ESC
              " to list availible commands.");
}

void run_help(const Words& w) {
  if (w.count == 1) {
    system_line("Type " CC_TEXT_ESC "/help [commandname]" CC_SYSTEM_ESC
                " for additional help. Valid commands are:");
    system_line(" motd restart user kick help 8ball");
    return;
  }
  if (w.count > 2) return unexpected_argument("help");
  const CommandInfo* topic = find_command(w.word[1]);
  if (!topic) return unknown_command();
  for (const char* line : topic->help) system_line(line);
}

void run_eight_ball(const Words& w) { system_line(eight_ball_answer(w.word + 1, w.count - 1)); }

void redraw_panel(BITMAP* panel) {
  clear_to_color(panel, bitmap_colour(255, 0, 255));
  int y = panel->h - measure_chat_text(chat_input.text, panel->w);
  draw_chat_text(panel, chat_input.text, panel->w, y);
  // History upwards from the newest line, until the panel's top is reached.
  const ChatLog& log = board.chat_log;
  int pos = log.head;
  while (y > 0 && pos != log.oldest) {
    pos = pos == 0 ? CHAT_LOG_SLOTS - 1 : pos - 1;
    y -= measure_chat_text(log.lines[pos].text, panel->w);
    draw_chat_text(panel, log.lines[pos].text, panel->w, y);
  }
}

}  // namespace

void send_chat_line(const char* line) {
  if (!online()) return system_line("You're not connected to a server.");
  Message m;
  if (!message_init(&m, MSG_CHAT)) return system_line("Error sending chat message.");
  if (!message_put_byte(&m, board.own_user_id) || !message_put_string(&m, line)) {
    system_line("Error sending chat message.");
    message_free(&m);
    return;
  }
  // Shown when the server accepts it; a line that cannot be kept is shown at
  // once and ends the link.
  if (board_session_submit(&board, &m) == SUBMIT_SEND_FAILED) system_line("Error sending chat message.");
}

void run_chat_command(const char* text) {
  Words w;
  split_words(text, &w);
  if (w.count == 0)
    return system_line("Expected a command name. Type " CC_TEXT_ESC "/help" CC_SYSTEM_ESC
                       " for help.");
  const CommandInfo* info = find_command(w.word[0]);
  switch (info ? info->command : CMD_UNKNOWN) {
    case CMD_8BALL: return run_eight_ball(w);
    case CMD_RESTART: return run_restart(w);
    case CMD_MOTD: return run_motd(w);
    case CMD_KICK: return run_kick(w);
    case CMD_USER: return run_user(w);
    case CMD_HELP: return run_help(w);
    case CMD_UNKNOWN: return unknown_command();
  }
}

BITMAP* chat_input_handler(BITMAP* panel, int, int key, int, int) {
  bool created = false;
  if (board.chat_log.added != lines_drawn) chat_panel_dirty = true;
  if (!panel) {
    panel = create_bitmap_ex(32, screen_width, screen_height - TOOLBAR_HEIGHT);
    if (!panel) return nullptr;
    created = true;
    chat_panel_dirty = true;
  }
  if (key) {
    const int scan = key >> 8;
    if (scan == KEY_BACKSPACE) {
      if (chat_input.length > 0) {
        chat_input.text[--chat_input.length] = '\0';
        chat_panel_dirty = true;
      }
    } else if (scan == KEY_ENTER) {
      if (chat_input.length > 0) {
        char line[CHAT_INPUT_SIZE];
        memcpy(line, chat_input.text, sizeof line);
        chat_input_reset();
        chat_panel_dirty = true;
        if (line[0] == '/')
          run_chat_command(line + 1);
        else
          send_chat_line(line);
      }
    } else {
      // Printable ASCII only: the user cannot type colour escapes or controls.
      const int c = key & 0xFF;
      if (is_printable(c) && chat_input.length < CHAT_INPUT_SIZE - 1) {
        chat_input.text[chat_input.length++] = static_cast<char>(c);
        chat_input.text[chat_input.length] = '\0';
        chat_panel_dirty = true;
      }
    }
  }
  // A new panel is always handed back, so that its owner keeps it.
  if (!created && (key || !chat_panel_dirty)) return nullptr;
  redraw_panel(panel);
  chat_panel_dirty = false;
  lines_drawn = board.chat_log.added;
  return panel;
}

void chat_input_reset() {
  chat_input.text[0] = '\0';
  chat_input.length = 0;
}
