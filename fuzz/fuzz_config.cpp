// config_read on arbitrary files: whatever the file holds, the text fields come
// back terminated inside their widths and config_valid can judge them.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("easel-fuzz-config-" + std::to_string(getpid()) + ".cfg")).string();
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);

  config_set_defaults();
  bool read = config_read(path.c_str());
  if (read != (size >= size_t(CONFIG_FILE_SIZE))) abort();
  if (!memchr(config.server_name, 0, sizeof config.server_name)) abort();
  if (!memchr(config.user_name, 0, sizeof config.user_name)) abort();
  if (read) {
    // The width kept is the second copy, at offset 278.
    if (config.screen_w != (data[278] | (data[279] << 8))) abort();
    if (config.fullscreen != data[280]) abort();
  }
  config_valid();
  unlink(path.c_str());
  return 0;
}
