#include "ui/chat_view.h"

#include <cstdarg>
#include <cstdio>

#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/chat_input.h"
#include "ui/screen.h"

void chat_log_reset() {
  chat_log_clear(&board.chat_log);
  chat_panel_dirty = true;
}

void add_chat_line(const char* name, const char* text) { board_session_add_line(&board, name, text); }

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
  ChatLog& log = board.chat_log;
  const bool changed = chat_log_expire(&log, board.now) || forced;
  if (!changed || !target) return changed;
  draw_canvas_view_on(target, canvas);
  int y = 0;
  for (int i = log.oldest; i != log.head; i = (i + 1) % CHAT_LOG_SLOTS) {
    if (log.lines[i].state != LINE_EXPIRED) y = draw_chat_text(target, log.lines[i].text, target->w, y);
  }
  return true;
}
