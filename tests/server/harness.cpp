#include "harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "net/command.h"
#include "net/message.h"

static double seconds_now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// No frame has no bytes: a time-out must not pass for an acknowledgement (0xFF).
Bytes Frame::bytes() const { return type < 0 ? Bytes() : frame_bytes(type, payload); }

Bytes frame_bytes(int type, const Bytes& payload) {
  return concat({{uint8_t(type), uint8_t(payload.size() & 0xFF), uint8_t(payload.size() >> 8)},
                 payload});
}

Bytes text_bytes(const std::string& s) { return concat({Bytes(s.begin(), s.end()), {0}}); }

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes login_frame(const std::string& name) {
  return frame_bytes(6, concat({{9, 0, 0, 0}, text_bytes(name)}));
}

Bytes chat_frame(int user_id, const std::string& text) {
  return frame_bytes(5, concat({{uint8_t(user_id)}, text_bytes(text)}));
}

// Strokes are made by the client's own encoders: the server is checked
// against what clients really send.
static Bytes encoded_frame(Message* m) {
  Bytes out(FRAME_HEADER_SIZE + message_length(m));
  message_write_frame(m, out.data());
  message_free(m);
  return out;
}

static void stroke_points(int points, int x, int y, std::vector<int16_t>* xs,
                          std::vector<int16_t>* ys) {
  for (int i = 0; i < points; i++) {
    xs->push_back(int16_t(x + i));
    ys->push_back(int16_t(y + (i % 7)));
  }
}

Bytes pen_frame(int user_id, int points, int x, int y, uint8_t red) {
  std::vector<int16_t> xs, ys;
  stroke_points(points, x, y, &xs, &ys);
  Message m;
  encode_pen(&m, uint8_t(user_id), red, 0, 128, xs.data(), ys.data(), unsigned(points));
  return encoded_frame(&m);
}

Bytes brush_frame(int user_id, int points, uint32_t seed) {
  std::vector<int16_t> xs, ys;
  stroke_points(points, 100, 200, &xs, &ys);
  Message m;
  encode_brush(&m, uint8_t(user_id), 10, 20, 30, 8.812f, 152.6f, xs.data(), ys.data(),
               unsigned(points));
  Bytes frame = encoded_frame(&m);
  for (int i = 0; i < 4; i++) frame[4 + i] = uint8_t(seed >> (8 * i));  // the seed given
  return frame;
}

Bytes motd_frame(const std::string& password, const std::string& text) {
  return frame_bytes(11, concat({text_bytes(password), text_bytes(text)}));
}

std::string chat_text(const Frame& f) {
  if (f.type != 5 || f.payload.size() < 2) return "";
  return std::string(f.payload.begin() + 1, f.payload.end() - 1);
}

bool TestServer::wait_for_log(const std::string& text, double seconds) const {
  for (double end = seconds_now() + seconds; log().find(text) == std::string::npos;) {
    if (seconds_now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

Bytes TestServer::file(const std::string& name) const {
  std::ifstream in(dir + "/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void TestServer::write_board(const Bytes& contents) const {
  std::ofstream out(board, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(contents.data()), std::streamsize(contents.size()));
}

std::vector<std::string> TestServer::files(const std::string& prefix) const {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (std::string(e->d_name).rfind(prefix, 0) == 0) names.push_back(e->d_name);
  closedir(d);
  return names;
}

TestClient::TestClient(int port, int receive_buffer) {
  fd = socket(AF_INET, SOCK_STREAM, 0);
  if (receive_buffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    fd = -1;
  }
}

TestClient::~TestClient() {
  if (fd >= 0) close(fd);
}

bool TestClient::send(const Bytes& data) {
  for (size_t done = 0; done < data.size();) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// Reads what arrives into the buffer: 0 when the connection closed or the time is up.
static bool receive(TestClient* c, double end) {
  double left = end - seconds_now();
  if (left <= 0 || c->fd < 0) return false;
  pollfd p = {c->fd, POLLIN, 0};
  if (poll(&p, 1, int(left * 1000) + 1) <= 0) return true;
  uint8_t block[65536];
  ssize_t n = recv(c->fd, block, sizeof block, 0);
  if (n <= 0) return false;
  c->buffer.insert(c->buffer.end(), block, block + n);
  return true;
}

Frame TestClient::read_frame(double seconds) {
  for (double end = seconds_now() + seconds;;) {
    size_t length = buffer.size() >= 3 ? size_t(buffer[1] | (buffer[2] << 8)) : 0;
    if (buffer.size() >= 3 && buffer.size() >= 3 + length) {
      Frame f;
      f.type = buffer[0];
      f.payload.assign(buffer.begin() + 3, buffer.begin() + 3 + long(length));
      buffer.erase(buffer.begin(), buffer.begin() + 3 + long(length));
      return f;
    }
    if (!receive(this, end)) return Frame();
  }
}

bool TestClient::closed_within(double seconds) {
  double end = seconds_now() + seconds;
  while (receive(this, end)) buffer.clear();
  return seconds_now() < end;
}

std::vector<Frame> TestClient::login(const std::string& name, int* user_id) {
  send(login_frame(name));
  Frame reply = read_frame();
  if (user_id) *user_id = reply.type == 6 && !reply.payload.empty() ? reply.payload[0] : -1;
  std::vector<Frame> frames = {reply};
  if (reply.type != 6) return frames;
  std::vector<Frame> rest = read_until(255);
  frames.insert(frames.end(), rest.begin(), rest.end());
  return frames;
}

std::vector<Frame> TestClient::read_until(int type, double seconds) {
  std::vector<Frame> before;
  for (Frame f; (f = read_frame(seconds)).type != type && f.type >= 0;) before.push_back(f);
  return before;
}
