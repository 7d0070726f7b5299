#include "app/config.h"

#include <cstdio>
#include <cstring>

#ifndef EASEL_DEFAULT_SERVER
#define EASEL_DEFAULT_SERVER "localhost"
#endif

Config config = {};

namespace {

bool is_printable(unsigned char c) { return c >= ' ' && c <= '~'; }

// True when the field holds a terminator and only printable bytes before it.
bool text_field_valid(const char* field, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(field[i]);
    if (c == 0) return true;
    if (!is_printable(c)) return false;
  }
  return false;
}

// A file we did not write may hold a text field without a terminator: it is cut
// at its last byte, so every later use of the field stays inside it.
void terminate_field(char* field, size_t size) {
  if (!memchr(field, 0, size)) field[size - 1] = '\0';
}

void set_text_field(char* field, size_t size, const char* text) {
  memset(field, 0, size);
  strncpy(field, text, size - 1);
}

bool read_bytes(FILE* f, void* out, size_t size) { return fread(out, 1, size, f) == size; }

// Each field is either read whole or left as it was.
bool read_text_field(FILE* f, char* field, size_t size) {
  char buffer[256];
  if (!read_bytes(f, buffer, size)) return false;
  memcpy(field, buffer, size);
  terminate_field(field, size);
  return true;
}

bool read_u16(FILE* f, uint16_t* out) {
  unsigned char b[2];
  if (!read_bytes(f, b, 2)) return false;
  *out = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return true;
}

bool write_u16(FILE* f, uint16_t value) {
  unsigned char b[2] = {static_cast<unsigned char>(value & 0xFF), static_cast<unsigned char>(value >> 8)};
  return fwrite(b, 1, 2, f) == 2;
}

bool read_fields(FILE* f) {
  static_assert(sizeof config.server_name <= 256, "read buffer too small");
  if (!read_text_field(f, config.server_name, sizeof config.server_name)) return false;
  if (!read_u16(f, &config.server_port)) return false;
  if (!read_text_field(f, config.user_name, sizeof config.user_name)) return false;
  if (!read_u16(f, &config.screen_w)) return false;
  if (!read_u16(f, &config.screen_h)) return false;
  // The width is stored twice; the later copy is the one kept.
  if (!read_u16(f, &config.screen_w)) return false;
  uint8_t fullscreen;
  if (!read_bytes(f, &fullscreen, 1)) return false;
  config.fullscreen = fullscreen;
  return true;
}

bool write_fields(FILE* f) {
  return fwrite(config.server_name, 1, sizeof config.server_name, f) == sizeof config.server_name &&
         write_u16(f, config.server_port) &&
         fwrite(config.user_name, 1, sizeof config.user_name, f) == sizeof config.user_name &&
         write_u16(f, config.screen_w) && write_u16(f, config.screen_h) && write_u16(f, config.screen_w) &&
         fwrite(&config.fullscreen, 1, 1, f) == 1;
}

}  // namespace

void config_set_defaults() {
  set_text_field(config.server_name, sizeof config.server_name, EASEL_DEFAULT_SERVER);
  config.server_port = 2020;
  set_text_field(config.user_name, sizeof config.user_name, "guest");
  config.screen_w = 800;
  config.screen_h = 600;
  config.fullscreen = 1;
}

bool config_read(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  bool complete = read_fields(f);
  fclose(f);
  return complete;
}

bool config_write(const char* path) {
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  bool written = write_fields(f);
  // Buffered writes only fail when flushed, so the close counts as a write.
  if (fclose(f) != 0) written = false;
  return written && config_valid();
}

bool config_valid() {
  return text_field_valid(config.server_name, sizeof config.server_name) &&
         text_field_valid(config.user_name, sizeof config.user_name) && config.server_port != 0 &&
         config.screen_w >= 640 && config.screen_h >= 480 && config.fullscreen <= 1;
}
