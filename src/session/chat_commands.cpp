#include "session/chat_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/message.h"
#include "session/eight_ball.h"

// Colour escapes inside system lines: command names in silver, then back.
#define CC_TEXT_ESC "\xFF\xFF"
#define CC_SYSTEM_ESC "\xFF\xFC"

namespace {

constexpr int MAX_WORDS = CHAT_TYPED_SIZE / 2 + 1;
constexpr int USER_LINE_SIZE = 128;

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
  char storage[CHAT_TYPED_SIZE];
  const char* word[MAX_WORDS];
  const char* end_in_text[MAX_WORDS];
  int count;
};

void split_words(const char* text, Words* w) {
  w->count = 0;
  int out = 0;
  const char* p = text;
  const char* stop = text + strnlen(text, CHAT_TYPED_SIZE - 1);
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

void system_line(BoardSession* s, const char* text) { board_session_add_line(s, nullptr, text); }

void unexpected_argument(BoardSession* s, const char* help_topic) {
  board_session_notice(s, "Unexpected argument. Type " CC_TEXT_ESC "/help %s" CC_SYSTEM_ESC " for help.",
               help_topic);
}

// Sends a message that the server does not acknowledge, then frees it.
bool send_unqueued(BoardSession* s, Message* m, bool built) {
  if (built) return board_session_send(s, m);
  message_free(m);
  return false;
}

void run_restart(BoardSession* s, const Words& w) {
  if (w.count > 1) return unexpected_argument(s, "restart");
  if (!s->connected) return system_line(s, "You're not connected to a server.");
  Message m;
  message_init(&m, MSG_RESTART);
  if (!send_unqueued(s, &m, message_put_byte(&m, 1))) system_line(s, "Error sending restart command.");
}

void run_motd(BoardSession* s, const Words& w) {
  if (w.count < 2)
    return system_line(s, "Expected password. Type " CC_TEXT_ESC "/help motd" CC_SYSTEM_ESC
                       " for help.");
  const char* message = w.end_in_text[1];
  while (*message == ' ') ++message;
  if (!s->connected) return system_line(s, "You're not connected to a server.");
  Message m;
  message_init(&m, MSG_MOTD);
  const bool built = message_put_string(&m, w.word[1]) && message_put_string(&m, message);
  if (!send_unqueued(s, &m, built)) system_line(s, "Error sending motd command.");
}

void run_kick(BoardSession* s, const Words& w) {
  if (w.count < 2)
    return system_line(s, "Expected user name or id number. Type " CC_TEXT_ESC
                       "/help kick" CC_SYSTEM_ESC " for help.");
  if (w.count > 2) return unexpected_argument(s, "kick");
  const char* target = w.word[1];
  char* rest = nullptr;
  errno = 0;
  const long number = strtol(target, &rest, 10);
  int id;
  if (rest == target) {
    id = roster_find(&s->roster, target);
    if (id == 0) return system_line(s, "Invalid user.");
  } else if (*rest != '\0') {
    return system_line(s, "Unable to parse ID number.");
  } else {
    id = static_cast<int>(static_cast<unsigned long>(number) & 0xFFu);
    if (!roster_exists(&s->roster, id)) return system_line(s, "Invalid ID number.");
  }
  if (!s->connected) return system_line(s, "You're not connected to a server.");
  Message m;
  message_init(&m, MSG_KICK);
  if (!send_unqueued(s, &m, message_put_byte(&m, id))) system_line(s, "Error sending kick command.");
}

void run_user(BoardSession* s, const Words& w) {
  if (w.count > 1) return unexpected_argument(s, "user");
  system_line(s, "Users:");
  for (int id = 1; id <= 254; ++id) {
    if (!roster_exists(&s->roster, id)) continue;
    char line[USER_LINE_SIZE];
    snprintf(line, sizeof line, " %3d - %s", id, roster_name(&s->roster, id));
    system_line(s, line);
  }
}

void unknown_command(BoardSession* s) {
  system_line(s, "Unknown command. Type " CC_TEXT_ESC "/help" CC_SYSTEM_ESC
              " to list availible commands.");
}

void run_help(BoardSession* s, const Words& w) {
  if (w.count == 1) {
    system_line(s, "Type " CC_TEXT_ESC "/help [commandname]" CC_SYSTEM_ESC
                " for additional help. Valid commands are:");
    system_line(s, " motd restart user kick help 8ball");
    return;
  }
  if (w.count > 2) return unexpected_argument(s, "help");
  const CommandInfo* topic = find_command(w.word[1]);
  if (!topic) return unknown_command(s);
  for (const char* line : topic->help) system_line(s, line);
}

void run_eight_ball(BoardSession* s, const Words& w) { system_line(s, eight_ball_answer(w.word + 1, w.count - 1)); }

}  // namespace

void chat_send_line(BoardSession* s, const char* line) {
  // A session that resumes keeps the line until the link is back.
  if (!s->connected && !(s->take_resume && board_session_may_rejoin(s)))
    return system_line(s, "You're not connected to a server.");
  Message m;
  if (!message_init(&m, MSG_CHAT)) return system_line(s, "Error sending chat message.");
  if (!message_put_byte(&m, s->own_user_id) || !message_put_string(&m, line)) {
    system_line(s, "Error sending chat message.");
    message_free(&m);
    return;
  }
  // Shown when the server accepts it; a line that cannot be kept is shown at
  // once and ends the link.
  const bool offline = !s->connected;
  const int outcome = board_session_submit(s, &m);
  if (outcome == SUBMIT_SEND_FAILED) system_line(s, "Error sending chat message.");
  if (outcome == SUBMIT_HELD && offline) system_line(s, "Not connected: the line is sent when the link is back.");
}

void chat_run_command(BoardSession* s, const char* text) {
  Words w;
  split_words(text, &w);
  if (w.count == 0)
    return system_line(s, "Expected a command name. Type " CC_TEXT_ESC "/help" CC_SYSTEM_ESC
                       " for help.");
  const CommandInfo* info = find_command(w.word[0]);
  switch (info ? info->command : CMD_UNKNOWN) {
    case CMD_8BALL: return run_eight_ball(s, w);
    case CMD_RESTART: return run_restart(s, w);
    case CMD_MOTD: return run_motd(s, w);
    case CMD_KICK: return run_kick(s, w);
    case CMD_USER: return run_user(s, w);
    case CMD_HELP: return run_help(s, w);
    case CMD_UNKNOWN: return unknown_command(s);
  }
}

void chat_submit(BoardSession* s, const char* line) {
  char kept[CHAT_TYPED_SIZE];
  int length = 0;
  // Printable ASCII only: nobody types colour escapes or controls.
  for (const char* p = line; *p && length < CHAT_TYPED_SIZE - 1; ++p)
    if (is_printable(static_cast<unsigned char>(*p))) kept[length++] = *p;
  kept[length] = '\0';
  if (length == 0) return;
  if (kept[0] == '/')
    chat_run_command(s, kept + 1);
  else
    chat_send_line(s, kept);
}
