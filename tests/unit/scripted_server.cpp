#include "scripted_server.h"

#include "net_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {
constexpr int WAIT_MS = 1000;

bool wait_fd(int fd, int events, int timeout_ms) {
  pollfd p = {fd, static_cast<short>(events), 0};
  return poll(&p, 1, timeout_ms) == 1;
}
}  // namespace

ScriptedServer::ScriptedServer() {
  listener_ = nettest::listen_on_loopback(&port_, 4);
}

ScriptedServer::~ScriptedServer() {
  drop_client();
  stop_listening();
}

bool ScriptedServer::accept_client() {
  if (listener_ < 0 || !wait_fd(listener_, POLLIN, WAIT_MS)) return false;
  peer_ = accept(listener_, nullptr, nullptr);
  return peer_ >= 0;
}

void ScriptedServer::send(const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(peer_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += size_t(n);
  }
}

Bytes ScriptedServer::receive(size_t n) {
  Bytes out;
  uint8_t buf[4096];
  while (out.size() < n && wait_fd(peer_, POLLIN, WAIT_MS)) {
    size_t want = n - out.size();
    ssize_t got = recv(peer_, buf, want < sizeof buf ? want : sizeof buf, 0);
    if (got <= 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

Bytes ScriptedServer::receive_frame() {
  Bytes head = receive(FRAME_HEADER_SIZE);
  if (head.size() != FRAME_HEADER_SIZE) return {};
  Bytes body = receive(size_t(head[1]) | size_t(head[2]) << 8);
  head.insert(head.end(), body.begin(), body.end());
  return head;
}

bool ScriptedServer::has_unread() { return peer_ >= 0 && readable_now(peer_); }

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

bool wait_readable(int fd) { return wait_fd(fd, POLLIN, WAIT_MS); }
bool readable_now(int fd) { return wait_fd(fd, POLLIN, 0); }

}  // namespace testsupport
