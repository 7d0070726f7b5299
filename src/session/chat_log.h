// The chat log as data: every line the user reads, newest last, with the
// colour escapes it is drawn with (0xFF followed by a code) and what the
// overlay over the picture needs to show and expire it.
#pragma once
#include <ctime>

constexpr unsigned char CC_SYSTEM = 0xFC;  // yellow
constexpr unsigned char CC_NAME = 0xFD;    // cyan
constexpr unsigned char CC_PLAIN = 0xFE;   // white
constexpr unsigned char CC_TEXT = 0xFF;    // silver

constexpr int CHAT_LINE_SIZE = 600;
constexpr int CHAT_LOG_SLOTS = 150;

enum ChatLineState { LINE_EXPIRED = 0, LINE_SHOWN = 1, LINE_NEW = 2 };

struct ChatLine {
  char text[CHAT_LINE_SIZE];
  int length;
  time_t shown_since;  // when its time on the overlay started
  int state;           // a ChatLineState: on the overlay or not
};

// A ring: lines oldest..head-1 are kept, at most CHAT_LOG_SLOTS - 1 of them.
struct ChatLog {
  ChatLine lines[CHAT_LOG_SLOTS];
  int head;
  int oldest;
  unsigned added;  // lines ever added, so a view can tell that it is behind
};

// Adds one line at time now: name null makes a system line, else a line
// spoken by that name ("???" when empty). An empty or null text adds nothing
// (false). The text is cut to fit CHAT_LINE_SIZE with its escapes.
bool chat_log_add(ChatLog* log, const char* name, const char* text, time_t now);
// The overlay's clock at time now: new lines start showing, and the oldest
// shown line expires once it has been up 0.5 s plus 0.05 s a byte (whole
// seconds); only the oldest shown line's time runs. True when a line appeared
// or expired.
bool chat_log_expire(ChatLog* log, time_t now);
// Empty.
void chat_log_clear(ChatLog* log);
