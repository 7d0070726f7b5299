#include "ui/chat_input.h"

#include <cstring>

#include "net/message.h"
#include "session/board_session.h"
#include "session/chat_commands.h"
#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/chat_view.h"
#include "ui/screen.h"

ChatInput chat_input = {};
bool chat_panel_dirty = true;

namespace {

// The session's lines counted when the panel was last drawn.
unsigned lines_drawn = 0;

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

void send_chat_line(const char* line) { chat_send_line(&board, line); }

void run_chat_command(const char* text) { chat_run_command(&board, text); }

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
