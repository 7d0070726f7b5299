// The settings file: its 281 bytes, short, long and garbage files, and the
// validity rules.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "app/config.h"
#include "test_support.h"

namespace {

using Bytes = std::string;

Bytes read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const char* path, const Bytes& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

Bytes u16(unsigned v) { return Bytes{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

// The record as it lies in the file, built independently of the code under test.
Bytes record(const std::string& server, unsigned port, const std::string& user, unsigned w,
             unsigned h, unsigned w_again, unsigned fullscreen) {
  return server + Bytes(256 - server.size(), '\0') + u16(port) + user +
         Bytes(16 - user.size(), '\0') + u16(w) + u16(h) + u16(w_again) +
         Bytes(1, static_cast<char>(fullscreen));
}

// Defaults and invalid values are written all the same (the result only
// reports validity); short files fail, a whole one is read and written back as
// the record with the second width copy; a long one is read and unterminated
// text fields are cut at their last byte.
TEST(ConfigTest, RecordsWrittenAndReadBackFromShortLongAndUnterminatedFiles) {
  testsupport::TempDir dir;
  config_set_defaults();
  ASSERT_TRUE(config_write("client.cfg"));
  EXPECT_EQ(read_file("client.cfg"), record(EASEL_DEFAULT_SERVER, 2020, "guest", 800, 600, 800, 1));
  config.screen_w = 100;
  EXPECT_FALSE(config_write("client.cfg"));
  EXPECT_EQ(read_file("client.cfg"), record(EASEL_DEFAULT_SERVER, 2020, "guest", 100, 600, 100, 1));
  EXPECT_FALSE(config_write("missing/dir/client.cfg"));
  EXPECT_FALSE(config_read("missing.cfg"));

  Bytes full = record("host", 99, "bob", 700, 480, 1280, 0);
  config_set_defaults();
  write_file("client.cfg", full.substr(0, 270));  // fields before the short read stay overwritten
  EXPECT_FALSE(config_read("client.cfg"));
  EXPECT_STREQ(config.server_name, "host");
  EXPECT_EQ(config.server_port, 99);
  EXPECT_STREQ(config.user_name, "guest");  // its read came back short
  for (size_t cut : {size_t(0), size_t(100), size_t(257), size_t(280)}) {  // 257: half a port
    write_file("client.cfg", full.substr(0, cut));
    EXPECT_FALSE(config_read("client.cfg")) << cut;
  }
  write_file("client.cfg", full);  // the last byte read is the 281st, alone
  ASSERT_TRUE(config_read("client.cfg"));
  ASSERT_TRUE(config_write("again.cfg"));  // every field as read
  EXPECT_EQ(read_file("again.cfg"), record("host", 99, "bob", 1280, 480, 1280, 0));

  write_file("client.cfg", Bytes(300, '\x80'));  // high bytes are not printable
  ASSERT_TRUE(config_read("client.cfg"));
  EXPECT_EQ(std::string(config.server_name), std::string(255, '\x80'));
  EXPECT_EQ(std::string(config.user_name), std::string(15, '\x80'));
  EXPECT_EQ(config.server_port, 0x8080);
  EXPECT_FALSE(config_valid());
}

// Each change applied to the defaults (valid themselves), in order within a row.
TEST(ConfigTest, ValidityRules) {
  using Change = void (*)();
  const struct {
    const char* what;
    Change change;
    bool valid;
  } cases[] = {
      {"unterminated server", [] { memset(config.server_name, 'a', 256); }, false},
      {"longest server", [] { memset(config.server_name, '~', 255); }, true},
      {"control character", [] { config.server_name[3] = '\t'; }, false},
      {"delete", [] { config.server_name[3] = 127; }, false},
      {"unterminated user", [] { memset(config.user_name, 'b', sizeof config.user_name); }, false},
      {"port 0", [] { config.server_port = 0; }, false},
      {"port 65535", [] { config.server_port = 65535; }, true},
      {"width 639", [] { config.screen_w = 639; }, false},
      {"height 479", [] { config.screen_w = 640, config.screen_h = 479; }, false},
      {"640 x 480", [] { config.screen_w = 640, config.screen_h = 480; }, true},
      {"windowed", [] { config.fullscreen = 0; }, true},
      {"fullscreen 2", [] { config.fullscreen = 2; }, false},
  };
  for (const auto& c : cases) {
    config_set_defaults();
    c.change();
    EXPECT_EQ(c.valid, config_valid()) << c.what;
  }
}

}  // namespace
