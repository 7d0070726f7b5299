#include "ui/chat_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ui/bitmap_image.h"
#include "ui/screen.h"

ChatLog chat_log = {};
bool chat_panel_dirty = true;

static time_t system_clock() { return time(nullptr); }
static time_t (*chat_clock)() = system_clock;

void chat_log_set_clock(time_t (*clock)()) { chat_clock = clock ? clock : system_clock; }

void chat_log_reset() {
  memset(&chat_log, 0, sizeof chat_log);
  chat_panel_dirty = true;
}

void add_chat_line(const char* name, const char* text) {
  if (!text || !*text) return;
  ChatLine& line = chat_log.lines[chat_log.head];
  if (name) {
    snprintf(line.text, sizeof line.text, "%c%c%s%c%c: %c%c%s", 0xFF, CC_NAME, *name ? name : "???",
             0xFF, CC_PLAIN, 0xFF, CC_TEXT, text);
  } else {
    snprintf(line.text, sizeof line.text, "%c%c%s", 0xFF, CC_SYSTEM, text);
  }
  line.length = static_cast<int>(strlen(line.text));
  line.shown_since = chat_clock();
  line.state = 2;
  chat_log.head = (chat_log.head + 1) % CHAT_LOG_SLOTS;
  if (chat_log.head == chat_log.oldest) chat_log.oldest = (chat_log.oldest + 1) % CHAT_LOG_SLOTS;
  chat_panel_dirty = true;
}

void show_message(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  add_chat_line(nullptr, buffer);
}

static int code_colour(int code) {
  switch (code) {
    case CC_SYSTEM: return bitmap_colour(255, 255, 0);
    case CC_NAME: return bitmap_colour(0, 255, 255);
    case CC_TEXT: return bitmap_colour(192, 192, 192);
    default: return bitmap_colour(255, 255, 255);
  }
}

// One byte of text as a string in the library's text encoding.
static void glyph_string(unsigned char c, char* out) {
  int n = usetc(out, c);
  usetc(out + n, 0);
}

static int glyph_width(unsigned char c) {
  char s[16];
  glyph_string(c, s);
  return text_length(font, s);
}

static bool at_escape(const unsigned char* p) { return p[0] == 0xFF && p[1] != 0; }

// Lays the text out in lines of the given width, drawing it onto bmp when one is
// given (stopping at its bottom edge). Returns the y after the text; counts lines.
static int lay_out_text(BITMAP* bmp, const char* text, int width, int y, int* lines) {
  const int th = text_height(font);
  const int space = glyph_width(' ');
  const int black = bitmap_colour(0, 0, 0);
  int code = CC_PLAIN;
  int b = y - th;
  int x = width;  // the first word always begins a line
  *lines = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  while (*p) {
    if (*p == ' ') {
      x += space;
      ++p;
      continue;
    }
    // The word, or as much of it as fits in one whole line.
    int e = 0;
    bool any_glyph = false;
    const unsigned char* q = p;
    while (*q && *q != ' ') {
      if (at_escape(q)) {
        q += 2;
        continue;
      }
      int w = glyph_width(*q);
      if (e + w > width) {
        if (!any_glyph) {
          // Not even one character fits: it takes a line of its own, so that
          // the text always advances.
          e = width;
          ++q;
        }
        break;
      }
      e += w;
      any_glyph = true;
      ++q;
    }
    if (x + e >= width) {
      b += th + 2;
      ++*lines;
      if (bmp && b >= bmp->h) return b;
      x = 0;
    }
    int cx = x;
    for (; p < q; ++p) {
      if (at_escape(p)) {
        code = p[1];
        ++p;
        continue;
      }
      char s[16];
      glyph_string(*p, s);
      if (bmp) {
        textout_ex(bmp, font, s, cx + 2, b + 1, black, -1);
        textout_ex(bmp, font, s, cx + 1, b + 2, black, -1);
        textout_ex(bmp, font, s, cx + 1, b + 1, code_colour(code), -1);
      }
      cx += text_length(font, s);
    }
    x += e;
  }
  return b + th + 4;
}

int draw_chat_text(BITMAP* bmp, const char* text, int width, int y) {
  int lines;
  return lay_out_text(bmp, text, width, y, &lines);
}

int measure_chat_text(const char* text, int width) {
  int lines;
  lay_out_text(nullptr, text, width, 0, &lines);
  return lines * (text_height(font) + 2) + 4;
}

bool compose_screen(BITMAP* target, const Image* canvas, bool forced) {
  const time_t now = chat_clock();
  bool running = false, changed = forced;
  for (int i = chat_log.oldest; i != chat_log.head; i = (i + 1) % CHAT_LOG_SLOTS) {
    ChatLine& line = chat_log.lines[i];
    if (line.state == 2) {
      line.state = 1;
      running = true;
      changed = true;
    } else if (running) {
      // Only the oldest line still shown has a running timer.
      if (line.state == 1) line.shown_since = now;
    } else if (line.state == 1) {
      double until = static_cast<double>(line.shown_since) + line.length * 0.05 + 0.5;
      if (static_cast<long long>(until) < static_cast<long long>(now)) {
        line.state = 0;
        changed = true;
      } else {
        running = true;
      }
    }
  }
  if (!changed || !target) return changed;
  draw_canvas_view_on(target, canvas);
  int y = 0;
  for (int i = chat_log.oldest; i != chat_log.head; i = (i + 1) % CHAT_LOG_SLOTS) {
    if (chat_log.lines[i].state != 0) y = draw_chat_text(target, chat_log.lines[i].text, target->w, y);
  }
  return true;
}
