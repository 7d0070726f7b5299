// The six settings, stored in "client.cfg" as a 281-byte binary record.
#pragma once
#include <cstdint>

struct Config {
  char server_name[256];
  uint16_t server_port;
  char user_name[16];
  uint16_t screen_w;
  uint16_t screen_h;
  uint8_t fullscreen;
};
extern Config config;

constexpr int CONFIG_FILE_SIZE = 281;

void config_set_defaults();
bool config_read(const char* path);
bool config_write(const char* path);
bool config_valid();
