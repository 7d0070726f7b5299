#include "app/setup_screen.h"

#include <allegro.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

int wait_for_key() {
  while (!keypressed()) {
    poll_keyboard();
    rest(1);
  }
  return readkey();
}

// Edits the decimal text of a 16-bit value; text that is no number gives 0.
uint16_t ask_number(PromptFunction ask, const char* prompt, uint16_t value) {
  char text[16];
  snprintf(text, sizeof text, "%d", value);
  ask(prompt, text, sizeof text);
  return static_cast<uint16_t>(strtol(text, nullptr, 10) & 0xFFFF);
}

// Text fields keep zero bytes after their terminator, whatever the editing left.
void ask_text(PromptFunction ask, const char* prompt, char* field, int size) {
  ask(prompt, field, size);
  field[size - 1] = '\0';
  size_t length = strlen(field);
  memset(field + length, 0, static_cast<size_t>(size) - length);
}

}  // namespace

void prompt_text(const char* prompt, char* buffer, int size) {
  int w = SCREEN_W, h = SCREEN_H;
  clear_to_color(screen, makecol(128, 0, 0));
  textout_centre_ex(screen, font, prompt, w / 2, h / 2 - 6, makecol(255, 255, 255), -1);
  clear_keybuf();
  draw_prompt_field(buffer);
  for (;;) {
    PromptKeyResult result = prompt_apply_key(buffer, size, wait_for_key());
    if (result == PROMPT_DONE) return;
    if (result == PROMPT_CHANGED) draw_prompt_field(buffer);
  }
}

bool setup_screen_with(const char* path, PromptFunction ask) {
  config_set_defaults();
  do {
    ask_text(ask, "Server name:", config.server_name, sizeof config.server_name);
  } while (!config_valid());
  do {
    config.server_port = ask_number(ask, "Server port:", config.server_port);
  } while (!config_valid());
  do {
    ask_text(ask, "Username:", config.user_name, sizeof config.user_name);
  } while (!config_valid());
  do {
    config.screen_w = ask_number(ask, "Screen width:", config.screen_w);
  } while (!config_valid());
  config.screen_h = static_cast<uint16_t>(config.screen_w * 3 / 4);
  do {
    config.screen_h = ask_number(ask, "Screen height:", config.screen_h);
  } while (!config_valid());
  char answer[16];
  snprintf(answer, sizeof answer, "%s", config.fullscreen == 1 ? "yes" : "no");
  ask("Fullscreen:", answer, sizeof answer);
  config.fullscreen = (answer[0] == 'y' || answer[0] == 'Y') ? 1 : 0;
  return config_write(path);
}

bool setup_screen(const char* path) { return setup_screen_with(path, prompt_text); }
