// The settings file: its 281 bytes, short, long and garbage files, and the
// validity rules.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "app/config.h"
#include "test_support.h"

namespace {

using Bytes = std::string;

Bytes read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const char* path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes text_field(const std::string& text, size_t size) {
  Bytes field = text;
  field.resize(size, '\0');
  return field;
}

Bytes u16(unsigned v) { return Bytes{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }

// The record as it lies in the file, built independently of the code under test.
Bytes record(const std::string& server, unsigned port, const std::string& user, unsigned w, unsigned h,
             unsigned w_again, unsigned fullscreen) {
  return text_field(server, 256) + u16(port) + text_field(user, 16) + u16(w) + u16(h) + u16(w_again) +
         Bytes(1, static_cast<char>(fullscreen));
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { memset(&config, 0, sizeof config); }
  testsupport::TempDir dir;
};

TEST_F(ConfigTest, DefaultsWriteTheExpectedBytes) {
  config_set_defaults();
  EXPECT_STREQ(config.server_name, EASEL_DEFAULT_SERVER);
  ASSERT_TRUE(config_write("client.cfg"));
  Bytes bytes = read_file("client.cfg");
  ASSERT_EQ(bytes.size(), static_cast<size_t>(CONFIG_FILE_SIZE));
  EXPECT_EQ(bytes, record(EASEL_DEFAULT_SERVER, 2020, "guest", 800, 600, 800, 1));
  // "guest" is five letters and eleven zero bytes.
  EXPECT_EQ(bytes.substr(258, 16), Bytes("guest") + Bytes(11, '\0'));
  EXPECT_EQ(bytes.substr(256, 2), Bytes("\xE4\x07", 2));
}

TEST_F(ConfigTest, FullFileIsReadUnchanged) {
  write_file("client.cfg", record("paint.example", 4321, "ann", 1024, 768, 1024, 0));
  ASSERT_TRUE(config_read("client.cfg"));
  EXPECT_STREQ(config.server_name, "paint.example");
  EXPECT_EQ(config.server_port, 4321);
  EXPECT_STREQ(config.user_name, "ann");
  EXPECT_EQ(config.screen_w, 1024);
  EXPECT_EQ(config.screen_h, 768);
  EXPECT_EQ(config.fullscreen, 0);
  // Written back, the same bytes come out.
  ASSERT_TRUE(config_write("again.cfg"));
  EXPECT_EQ(read_file("again.cfg"), read_file("client.cfg"));
}

TEST_F(ConfigTest, ShortMissingAndLongFilesAndTheSecondWidthCopyWins) {
  EXPECT_FALSE(config_read("client.cfg"));
  Bytes full = record("host", 99, "bob", 700, 480, 1280, 1);
  config_set_defaults();
  write_file("client.cfg", full.substr(0, 270));  // fields before the short read stay overwritten
  EXPECT_FALSE(config_read("client.cfg"));
  EXPECT_STREQ(config.server_name, "host");
  EXPECT_EQ(config.server_port, 99);
  EXPECT_STREQ(config.user_name, "guest");  // its read came back short
  write_file("client.cfg", full.substr(0, 280));
  EXPECT_FALSE(config_read("client.cfg"));
  write_file("client.cfg", Bytes());
  EXPECT_FALSE(config_read("client.cfg"));
  write_file("client.cfg", full + "extra bytes are ignored");
  ASSERT_TRUE(config_read("client.cfg"));
  EXPECT_STREQ(config.user_name, "bob");
  EXPECT_EQ(config.screen_w, 1280);
  EXPECT_EQ(config.screen_h, 480);
  EXPECT_EQ(config.fullscreen, 1);
}

TEST_F(ConfigTest, UnterminatedTextFieldsAreCutAtTheirLastByte) {
  Bytes bytes = Bytes(256, 'h') + u16(2020) + Bytes(16, 'u') + u16(640) + u16(480) + u16(640) + Bytes(1, '\0');
  write_file("client.cfg", bytes);
  ASSERT_TRUE(config_read("client.cfg"));
  EXPECT_EQ(std::string(config.server_name), std::string(255, 'h'));
  EXPECT_EQ(std::string(config.user_name), std::string(15, 'u'));
  EXPECT_EQ(config.server_port, 2020);
}

TEST_F(ConfigTest, GarbageFileReadsWithoutHarm) {
  Bytes bytes(300, '\0');
  unsigned state = 12345;
  for (auto& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>((state >> 16) | 0x80);  // no zero byte anywhere
  }
  write_file("client.cfg", bytes);
  ASSERT_TRUE(config_read("client.cfg"));
  EXPECT_EQ(strlen(config.server_name), 255u);
  EXPECT_EQ(strlen(config.user_name), 15u);
  EXPECT_FALSE(config_valid());  // high bytes are not printable
}

// Each change applied to the defaults (valid themselves), in order within a row.
TEST_F(ConfigTest, ValidityRules) {
  using Change = void (*)();
  const struct {
    const char* what;
    Change change;
    bool valid;
  } cases[] = {
      {"defaults", [] {}, true},
      {"empty names", [] { config.server_name[0] = config.user_name[0] = '\0'; }, true},
      {"unterminated server", [] { memset(config.server_name, 'a', sizeof config.server_name); }, false},
      {"longest server", [] { memset(config.server_name, '~', 255); }, true},
      {"control character", [] { config.server_name[3] = '\t'; }, false},
      {"delete", [] { config.server_name[3] = 127; }, false},
      {"unterminated user", [] { memset(config.user_name, 'b', sizeof config.user_name); }, false},
      {"longest user", [] { memset(config.user_name, ' ', 15); }, true},
      {"user control", [] { config.user_name[0] = '\n'; }, false},
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

TEST_F(ConfigTest, WriteReportsInvalidValuesAndUnwritablePaths) {
  config_set_defaults();
  config.screen_w = 100;
  EXPECT_FALSE(config_write("client.cfg"));
  // The file is written all the same.
  EXPECT_EQ(read_file("client.cfg"), record(EASEL_DEFAULT_SERVER, 2020, "guest", 100, 600, 100, 1));

  config_set_defaults();
  ASSERT_EQ(mkdir("folder.cfg", 0755), 0);
  EXPECT_FALSE(config_write("folder.cfg"));
  EXPECT_FALSE(config_write("missing/dir/client.cfg"));
}

}  // namespace
