#include "session_fixture.h"

#include <poll.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "app/client.h"
#include "app/config.h"
#include "app/session.h"
#include "headless_client.h"
#include "net/command.h"
#include "net/layout.h"
#include "net_test_support.h"
#include "paint/canvas.h"
#include "test_support.h"
#include "ui/chat_log.h"

namespace testsupport {

namespace {
time_t fixed_clock() { return TEST_NOW; }

// Fills m with a command of the tool whose points follow from variant.
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
}  // namespace

ScriptedServer::ScriptedServer() { listener_ = nettest::listen_on_loopback(&port_, 4); }

ScriptedServer::~ScriptedServer() {
  drop_client();
  stop_listening();
}

bool ScriptedServer::accept_client() {
  if (listener_ < 0 || !readable(listener_)) return false;
  peer_ = accept(listener_, nullptr, nullptr);
  const timeval second = {1, 0};  // receive_frame waits this long at most
  setsockopt(peer_, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
  return peer_ >= 0;
}

void ScriptedServer::send(const Bytes& bytes) {
  ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

Bytes ScriptedServer::receive_frame() {
  Bytes out(FRAME_HEADER_SIZE);
  if (recv(peer_, out.data(), out.size(), MSG_WAITALL) != ssize_t(out.size())) return {};
  const size_t length = size_t(out[1]) | size_t(out[2]) << 8;
  out.resize(FRAME_HEADER_SIZE + length);
  if (length && recv(peer_, out.data() + FRAME_HEADER_SIZE, length, MSG_WAITALL) != ssize_t(length))
    return {};
  return out;
}

bool ScriptedServer::has_unread() { return peer_ >= 0 && readable(peer_, 0); }

void ScriptedServer::drop_client() {
  if (peer_ >= 0) close(peer_);
  peer_ = -1;
}

void ScriptedServer::stop_listening() {
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

Bytes frame(uint8_t type, const Bytes& payload) {
  Bytes out = {type, uint8_t(payload.size() & 0xFF), uint8_t(payload.size() >> 8)};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes frame_of(const Message* m) {
  Bytes out(FRAME_HEADER_SIZE + message_length(m));
  message_write_frame(m, out.data());
  return out;
}

Bytes text_bytes(const std::string& s) {
  Bytes out(s.begin(), s.end());
  out.push_back(0);
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bool readable(int fd, int timeout_ms) {
  pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) == 1;
}

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
  ASSERT_TRUE(readable(server_connection.socket_handle));
  step();
}

void SessionFixture::login(const Bytes& reply) {
  connect_and_login();
  ASSERT_TRUE(connected);
  ASSERT_EQ(chat_lines().back(), system_line("Attempting to connect to 127.0.0.1:" +
                                             std::to_string(server.port()) + ". . ."));
  ASSERT_EQ(queue_count(&command_queue), 1);  // the request waits for its acknowledgement
  ASSERT_TRUE(server.accept_client());
  ASSERT_FALSE(server.has_unread());  // nothing leaves before the first poll
  step();
  ASSERT_EQ(server.receive_frame(), (Bytes{0x06, 0x08, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E,
                                           0x6E, 0x00}));
  deliver(reply.empty() ? frame(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})) : reply);
  deliver(frame(MSG_ACCEPTED, {}));
  ASSERT_EQ(queue_count(&command_queue), 0);
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

std::string system_line(const std::string& text) { return "\xFF\xFC" + text; }

std::string spoken_line(const std::string& name, const std::string& text) {
  return "\xFF\xFD" + name + "\xFF\xFE: \xFF\xFF" + text;
}

}  // namespace testsupport
