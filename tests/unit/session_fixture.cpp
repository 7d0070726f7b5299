#include "session_fixture.h"

#include "app/client.h"
#include "app/config.h"
#include "app/session.h"
#include "headless_client.h"
#include "net/command.h"
#include "paint/canvas.h"
#include "test_support.h"
#include "ui/chat_log.h"
#include "ui/toolbar.h"

#include <cstring>

namespace testsupport {

namespace {
time_t fixed_clock() { return TEST_NOW; }
}  // namespace

void SessionFixture::SetUp() {
  memset(&config, 0, sizeof config);
  strcpy(config.server_name, "127.0.0.1");
  config.server_port = server.port();
  strcpy(config.user_name, "Ann");
  start_headless_client(TEST_SCREEN_W, TEST_SCREEN_H);
  chat_log_set_clock(fixed_clock);
  session_set_clock(fixed_clock);
}

void SessionFixture::TearDown() { stop_headless_client(); }

void SessionFixture::step() {
  received_this_frame = false;
  network_step();
}

void SessionFixture::deliver(const Bytes& bytes) {
  server.send(bytes);
  ASSERT_TRUE(wait_readable(server_connection.socket_handle));
  step();
}

void SessionFixture::login(const Bytes& reply) {
  connect_and_login();
  ASSERT_TRUE(connected);
  ASSERT_TRUE(server.accept_client());
  step();  // the login request leaves with this frame's poll
  ASSERT_EQ(server.receive_frame(), frame(MSG_LOGIN, concat({{9, 0, 0, 0}, text_bytes("Ann")})));
  deliver(reply.empty() ? frame(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})) : reply);
  deliver(frame(MSG_ACCEPTED, {}));
  ASSERT_EQ(queue_count(&command_queue), 0);
}

void encode_variant(Message* m, int tool, unsigned variant) {
  std::mt19937 gen(variant * 7919u + unsigned(tool));
  const int n = 1 + int(gen() % 12);
  int16_t xs[12], ys[12];
  int16_t x = int16_t(gen() % CANVAS_WIDTH), y = int16_t(gen() % CANVAS_HEIGHT);
  for (int i = 0; i < n; ++i) {
    xs[i] = x;
    ys[i] = y;
    x = int16_t(x + int(gen() % 81) - 40);
    y = int16_t(y + int(gen() % 81) - 40);
  }
  const float r = float(gen() % 256), g = float(gen() % 256), b = float(gen() % 256);
  const float v1 = float(2 + gen() % 40), v2 = float(gen() % 400);
  ASSERT_EQ(encode_command(m, COMMAND_LAYOUTS[tool], own_user_id, r, g, b, v1, v2, xs, ys,
                           unsigned(n)),
            1);
}

Bytes SessionFixture::our_stroke(int tool, unsigned variant) {
  Message m;
  encode_variant(&m, tool, variant);
  apply_command(LocalCanvas, &m);
  Bytes out = frame_of(&m);
  EXPECT_EQ(link_submit(&m), LINK_SENT);
  return out;
}

Bytes SessionFixture::other_stroke(uint8_t user, int tool, unsigned variant) {
  Message m;
  encode_variant(&m, tool, variant);
  m.begin[0] = user;
  Bytes out = frame_of(&m);
  message_free(&m);
  return out;
}

std::vector<std::string> SessionFixture::chat_lines() {
  std::vector<std::string> out;
  for (int i = chat_log.oldest; i != chat_log.head; i = (i + 1) % CHAT_LOG_SLOTS)
    out.push_back(chat_log.lines[i].text);
  return out;
}

int SessionFixture::count_line(const std::string& line) {
  int n = 0;
  for (const std::string& s : chat_lines()) n += s == line;
  return n;
}

void SessionFixture::expect_invariant() {
  BITMAP* expected = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  blit(ServerCanvas, expected, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  for (uint16_t i = 0; i < queue_count(&command_queue); ++i) {
    Message* m = queue_at(&command_queue, i);
    if (m->type != MSG_CHAT) apply_command(expected, m);
  }
  EXPECT_EQ(count_differences(expected, LocalCanvas), 0);
  destroy_bitmap(expected);
}

BITMAP* SessionFixture::reset_canvas() {
  BITMAP* b = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  resetCanvas(b);
  return b;
}

std::string system_line(const std::string& text) { return "\xFF\xFC" + text; }

std::string spoken_line(const std::string& name, const std::string& text) {
  return "\xFF\xFD" + name + "\xFF\xFE: \xFF\xFF" + text;
}

}  // namespace testsupport
