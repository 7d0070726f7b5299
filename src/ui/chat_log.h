// The chat log: every line the user reads, shown as an overlay over the picture
// and in the Chat panel. Text carries colour escapes: 0xFF followed by a code.
#pragma once
#include <allegro.h>
#include <ctime>

#include "paint/image.h"

constexpr unsigned char CC_SYSTEM = 0xFC;  // yellow
constexpr unsigned char CC_NAME = 0xFD;    // cyan
constexpr unsigned char CC_PLAIN = 0xFE;   // white
constexpr unsigned char CC_TEXT = 0xFF;    // silver

constexpr int CHAT_LINE_SIZE = 600;
constexpr int CHAT_LOG_SLOTS = 150;

struct ChatLine {
  char text[CHAT_LINE_SIZE];
  int length;
  time_t shown_since;
  int state;  // 0 expired from the overlay, 1 shown, 2 new
};

struct ChatLog {
  ChatLine lines[CHAT_LOG_SLOTS];
  int head;
  int oldest;
};
extern ChatLog chat_log;
extern bool chat_panel_dirty;

// Adds one line; name none (nullptr) makes a system line.
void add_chat_line(const char* name, const char* text);
// printf-style system line.
void show_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

int draw_chat_text(BITMAP* bmp, const char* text, int width, int y);
int measure_chat_text(const char* text, int width);
// Expires overlay lines and recomposes BackBuffer from canvas when something
// changed or when forced; true when it redrew.
bool compose_screen(BITMAP* target, const Image* canvas, bool forced);

// Empty log, panel dirty; for tests.
void chat_log_reset();
// The clock that compose_screen and add_chat_line read (seconds); tests replace it.
void chat_log_set_clock(time_t (*clock)());
