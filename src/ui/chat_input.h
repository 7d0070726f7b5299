// The Chat tool: the input line, sending chat lines, and the slash commands.
#pragma once
#include <allegro.h>

#include "session/chat_commands.h"

constexpr int CHAT_INPUT_SIZE = CHAT_TYPED_SIZE;

struct ChatInput {
  char text[CHAT_INPUT_SIZE];
  int length;
};
extern ChatInput chat_input;
// The panel must be drawn again (lines the session adds make it so too).
extern bool chat_panel_dirty;

// The Chat tool's panel handler (screen_w x (screen_h - 42), see-through):
// edits the input line with the key, sends it or runs it as a command on
// Enter, and returns the panel when it was created or redrawn, else none.
BITMAP* chat_input_handler(BITMAP* panel, int button_edge, int key, int x, int y);

// Sends one chat line through the session; it is shown when the server accepts it.
void send_chat_line(const char* line);

// Runs a typed command: the input line without its leading '/'.
void run_chat_command(const char* text);

// Empty input line; for tests.
void chat_input_reset();
