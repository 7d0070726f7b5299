#include "app/setup_screen.h"

#include <allegro.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/client.h"
#include "app/config.h"

PromptKeyResult prompt_apply_key(char* buffer, int size, int key) {
  if (size <= 0) return PROMPT_IGNORED;
  buffer[size - 1] = '\0';
  int length = static_cast<int>(strlen(buffer));
  int scancode = (key >> 8) & 0xFF;
  int character = key & 0xFF;
  if (scancode == KEY_BACKSPACE) {
    if (length == 0) return PROMPT_IGNORED;
    buffer[length - 1] = '\0';
    return PROMPT_CHANGED;
  }
  if (scancode == KEY_ENTER) return PROMPT_DONE;
  if (character < ' ' || character > '~' || length >= size - 1) return PROMPT_IGNORED;
  buffer[length] = static_cast<char>(character);
  buffer[length + 1] = '\0';
  return PROMPT_CHANGED;
}

namespace {

void draw_prompt_field(const char* buffer) {
  int w = SCREEN_W, h = SCREEN_H;
  rectfill(screen, 1, h / 2 + 3, w - 2, h / 2 + 12, makecol(0, 0, 0));
  textout_centre_ex(screen, font, buffer, w / 2, h / 2 + 4, makecol(255, 255, 255), -1);
}

// 0 when the program is asked to quit instead. The keyboard is never polled:
// polling would keep the library from reporting keys as they come for the
// rest of the run.
int wait_for_key() {
  while (!keypressed()) {
    if (quit_requested) return 0;
    rest(1);
  }
  return readkey();
}

// Edits the decimal text of a 16-bit value; text that is no number gives 0.
bool ask_number(PromptFunction ask, const char* prompt, uint16_t* value) {
  char text[16];
  snprintf(text, sizeof text, "%d", *value);
  if (!ask(prompt, text, sizeof text)) return false;
  *value = static_cast<uint16_t>(strtol(text, nullptr, 10) & 0xFFFF);
  return true;
}

// Text fields keep zero bytes after their terminator, whatever the editing left.
bool ask_text(PromptFunction ask, const char* prompt, char* field, int size) {
  bool answered = ask(prompt, field, size);
  field[size - 1] = '\0';
  size_t length = strlen(field);
  memset(field + length, 0, static_cast<size_t>(size) - length);
  return answered;
}

}  // namespace

bool prompt_text(const char* prompt, char* buffer, int size) {
  int w = SCREEN_W, h = SCREEN_H;
  clear_to_color(screen, makecol(128, 0, 0));
  textout_centre_ex(screen, font, prompt, w / 2, h / 2 - 6, makecol(255, 255, 255), -1);
  clear_keybuf();
  draw_prompt_field(buffer);
  for (;;) {
    int key = wait_for_key();
    if (key == 0) return false;
    PromptKeyResult result = prompt_apply_key(buffer, size, key);
    if (result == PROMPT_DONE) return true;
    if (result == PROMPT_CHANGED) draw_prompt_field(buffer);
  }
}

bool setup_screen_with(const char* path, PromptFunction ask) {
  config_set_defaults();
  do {
    if (!ask_text(ask, "Server name:", config.server_name, sizeof config.server_name)) return false;
  } while (!config_valid());
  do {
    if (!ask_number(ask, "Server port:", &config.server_port)) return false;
  } while (!config_valid());
  do {
    if (!ask_text(ask, "Username:", config.user_name, sizeof config.user_name)) return false;
  } while (!config_valid());
  do {
    if (!ask_number(ask, "Screen width:", &config.screen_w)) return false;
  } while (!config_valid());
  config.screen_h = static_cast<uint16_t>(config.screen_w * 3 / 4);
  do {
    if (!ask_number(ask, "Screen height:", &config.screen_h)) return false;
  } while (!config_valid());
  char answer[16];
  snprintf(answer, sizeof answer, "%s", config.fullscreen == 1 ? "yes" : "no");
  if (!ask("Fullscreen:", answer, sizeof answer)) return false;
  config.fullscreen = (answer[0] == 'y' || answer[0] == 'Y') ? 1 : 0;
  return config_write(path);
}

bool setup_screen(const char* path) { return setup_screen_with(path, prompt_text); }
