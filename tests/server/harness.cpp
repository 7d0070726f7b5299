#include "harness.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "net/command.h"
#include "net/message.h"
#include "server_log.h"

// No frame has no bytes: a time-out must not pass for an acknowledgement (0xFF).
Bytes Frame::bytes() const { return type < 0 ? Bytes() : frame_bytes(type, payload); }

Bytes chat_frame(int user_id, const std::string& text) {
  return frame_bytes(5, concat({{uint8_t(user_id)}, text_bytes(text)}));
}

// Strokes are made by the client's own encoders: the server is checked
// against what clients really send.
static Bytes stroke_frame(bool pen, int user_id, int points, int x, int y, uint8_t red) {
  std::vector<int16_t> xs, ys;
  for (int i = 0; i < points; i++) {
    xs.push_back(int16_t(x + i));
    ys.push_back(int16_t(y + (i % 7)));
  }
  Message m;
  if (pen) encode_pen(&m, uint8_t(user_id), red, 0, 128, xs.data(), ys.data(), unsigned(points));
  else encode_brush(&m, uint8_t(user_id), 10, 20, 30, 8.812f, 152.6f, xs.data(), ys.data(), unsigned(points));
  Bytes out(FRAME_HEADER_SIZE + message_length(&m));
  message_write_frame(&m, out.data());
  message_free(&m);
  return out;
}

Bytes pen_frame(int user_id, int points, int x, int y, uint8_t red) {
  return stroke_frame(true, user_id, points, x, y, red);
}

Bytes brush_frame(int user_id, int points, uint32_t seed) {
  Bytes frame = stroke_frame(false, user_id, points, 100, 200, 0);
  for (int i = 0; i < 4; i++) frame[4 + i] = uint8_t(seed >> (8 * i));  // the seed given
  return frame;
}

bool TestServer::wait_for_log(const std::string& text, double seconds) const {
  for (double end = now_seconds() + seconds; log().find(text) == std::string::npos;) {
    if (now_seconds() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

Bytes TestServer::file(const std::string& name) const {
  std::ifstream in(dir + "/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void TestServer::write_board(const Bytes& contents) const { write_file(board.substr(dir.size() + 1), contents); }

void TestServer::write_file(const std::string& name, const Bytes& contents) const {
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(contents.data()), std::streamsize(contents.size()));
}

std::vector<std::string> TestServer::files(const std::string& prefix) const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) names.push_back(entry.path().filename());
  return names;
}

// The client's connection code, on a socket bound to the source first (its
// buffers grow from nothing).
TestClient::TestClient(int port, const std::string& source) {
  static int clients = 0;
  int fd = loopback_connect(source.empty() ? loopback_address(20, clients++) : source, port);
  conn = Connection{fd, fd < 0};
  in = out = ByteBuffer{};
  int one = 1;
  setsockopt(conn.socket_handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Waits until the socket can move bytes (or the time is up) and moves them:
// false once the connection failed or the time is up. Up to 64 KiB are taken
// at once: a window opened in small pieces slows the sender to a crawl.
static bool pump(TestClient* c, double end) {
  double left = end - now_seconds();
  if (left <= 0 || c->conn.failed) return false;
  pollfd p = {c->conn.socket_handle, short(POLLIN | (byte_buffer_used(&c->out) ? POLLOUT : 0)), 0};
  if (poll(&p, 1, int(left * 1000) + 1) <= 0) return true;
  for (size_t had = SIZE_MAX; byte_buffer_used(&c->in) != had && byte_buffer_used(&c->in) < 65536;) {
    had = byte_buffer_used(&c->in);
    if (!connection_poll(&c->conn, &c->out, &c->in)) return false;
  }
  return true;
}

bool TestClient::send(const Bytes& data) {
  if (!byte_buffer_append(&out, data.data(), data.size())) return false;
  while (byte_buffer_used(&out) > 0)
    if (!pump(this, now_seconds() + 30)) return false;
  return true;
}

Frame TestClient::read_frame(double seconds) {
  double end = now_seconds() + seconds;
  for (bool open = true;; open = open && pump(this, end)) {
    const uint8_t* data = in.begin;
    if (size_t n = frame_complete_size(data, byte_buffer_used(&in))) {
      Frame f{data[0], Bytes(data + FRAME_HEADER_SIZE, data + n)};
      byte_buffer_drop(&in, n);
      return f;
    }
    if (!open) return Frame();
  }
}

bool TestClient::closed_within(double seconds) {
  for (double end = now_seconds() + seconds; pump(this, end);)
    byte_buffer_drop(&in, byte_buffer_used(&in));
  return conn.failed;
}

std::vector<Frame> TestClient::login(const std::string& name, int* user_id) { return log_in(this, name, user_id); }

std::vector<Frame> TestClient::read_until(int type, double seconds) { return read_frames_until(this, type, seconds); }

Clients logged_in(const TestServer& server, int n) {
  Clients u;
  for (int i = 0; i < n; i++) {
    u.emplace_back(new TestClient(server.port));
    u[i]->login(std::string(1, char('a' + i)));
  }
  for (int i = 0; i < n; i++)
    for (int j = i + 1; j < n; j++) u[i]->read_frame();
  return u;
}

std::vector<Bytes> seen_by_new_user(int port) {
  TestClient c(port);
  std::vector<Frame> frames = c.login("reader");
  std::vector<Bytes> seen;
  for (size_t i = 1; i < frames.size(); i++) seen.push_back(frames[i].bytes());
  return seen;
}
