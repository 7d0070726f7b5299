// The connection against a real listener on 127.0.0.1: pacing of sends, kept
// partial sends, receive growth, a closed peer, and frames over the socket.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "net/connection.h"
#include "net/message.h"
#include "net_test_support.h"

using Bytes = std::vector<uint8_t>;

namespace {

// A listening socket on an ephemeral port of 127.0.0.1 and the one peer it accepts.
struct Listener {
  int listen_fd = -1;
  int peer = -1;
  uint16_t port = 0;

  explicit Listener(int receive_buffer = 0) {
    listen_fd = nettest::listen_on_loopback(&port, 1, receive_buffer);
  }
  ~Listener() {
    if (peer >= 0) close(peer);
    if (listen_fd >= 0) close(listen_fd);
  }
  bool accept_peer() {
    peer = accept(listen_fd, nullptr, nullptr);
    return peer >= 0;
  }
  // Everything that arrives within the wait, without blocking longer.
  Bytes read_available(int wait_ms) {
    Bytes out;
    pollfd p = {peer, POLLIN, 0};
    while (poll(&p, 1, wait_ms) > 0) {
      uint8_t buf[4096];
      ssize_t n = recv(peer, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  void send_all(const Bytes& data) {
    size_t at = 0;
    while (at < data.size()) {
      ssize_t n = send(peer, data.data() + at, data.size() - at, MSG_NOSIGNAL);
      ASSERT_GT(n, 0);
      at += size_t(n);
    }
  }
};

// Waits until the socket has something to read, so that the next poll's
// zero time-out select finds it.
void wait_readable(const Connection* c) {
  pollfd p = {c->socket_handle, POLLIN, 0};
  poll(&p, 1, 2000);
}

size_t sendable(const Connection* c) { return size_t(c->send_buffer.end - c->send_buffer.begin); }

Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + (i >> 9));
  return b;
}

}  // namespace

TEST(Connection, OpenFailsOnAClosedPortAndSucceedsOnAListener) {
  ASSERT_EQ(1, net_startup());
  Connection c;
  uint16_t dead_port;
  {
    Listener gone;
    dead_port = gone.port;
  }
  EXPECT_EQ(0, connection_open(&c, "127.0.0.1", dead_port));
  EXPECT_EQ(1, c.failed);

  Listener l;
  ASSERT_EQ(1, connection_open(&c, "127.0.0.1", l.port));
  EXPECT_EQ(0, c.failed);
  EXPECT_EQ(256, c.send_buffer.limit - c.send_buffer.begin);
  EXPECT_EQ(256, c.receive_buffer.limit - c.receive_buffer.begin);
  ASSERT_TRUE(l.accept_peer());
  EXPECT_EQ(1, connection_poll(&c));  // nothing to send, nothing to read
  EXPECT_TRUE(l.read_available(50).empty());
  connection_close(&c);

  // Names are resolved; a name that cannot be resolved fails cleanly.
  ASSERT_EQ(1, connection_open(&c, "localhost", l.port));
  connection_close(&c);
  EXPECT_EQ(0, connection_open(&c, "", l.port));
  EXPECT_EQ(1, c.failed);
  net_shutdown();
}

TEST(Connection, SendsAtMost512BytesPerPollInOrder) {
  Listener l;
  Connection c;
  ASSERT_EQ(1, connection_open(&c, "127.0.0.1", l.port));
  ASSERT_TRUE(l.accept_peer());
  Bytes data = pattern(1000);
  ASSERT_EQ(1, connection_queue(&c, data.data(), data.size()));
  EXPECT_EQ(1024, c.send_buffer.limit - c.send_buffer.begin);

  ASSERT_EQ(1, connection_poll(&c));
  EXPECT_EQ(488u, sendable(&c));
  Bytes first = l.read_available(100);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 512), first);

  ASSERT_EQ(1, connection_poll(&c));
  EXPECT_EQ(0u, sendable(&c));
  EXPECT_EQ(Bytes(data.begin() + 512, data.end()), l.read_available(100));
  connection_close(&c);
}

TEST(Connection, UnsentBytesStayQueuedWhileThePeerDoesNotRead) {
  Listener l(4096);
  Connection c;
  ASSERT_EQ(1, connection_open(&c, "127.0.0.1", l.port));
  int small = 4096;
  setsockopt(c.socket_handle, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ASSERT_TRUE(l.accept_peer());
  Bytes data = pattern(300000);
  ASSERT_EQ(1, connection_queue(&c, data.data(), data.size()));

  // The socket fills up: polls stop sending but keep the rest, never blocking.
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(1, connection_poll(&c));
  size_t stalled = sendable(&c);
  EXPECT_GT(stalled, 0u);
  EXPECT_LT(stalled, data.size());
  for (int i = 0; i < 50; ++i) ASSERT_EQ(1, connection_poll(&c));
  EXPECT_EQ(stalled, sendable(&c));

  Bytes got;
  for (int round = 0; round < 100000 && got.size() < data.size(); ++round) {
    ASSERT_EQ(1, connection_poll(&c));
    Bytes part = l.read_available(0);
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(0u, sendable(&c));
  EXPECT_EQ(data, got);
  connection_close(&c);
}

TEST(Connection, ReceiveBufferOffersAtLeast256FreeBytes) {
  Listener l;
  Connection c;
  ASSERT_EQ(1, connection_open(&c, "127.0.0.1", l.port));
  ASSERT_TRUE(l.accept_peer());
  Bytes data = pattern(300);
  l.send_all(data);
  wait_readable(&c);
  ASSERT_EQ(1, connection_poll(&c));
  // 256 free bytes are enough: no growth before the first recv.
  EXPECT_EQ(256u, connection_received(&c));
  EXPECT_EQ(256, c.receive_buffer.limit - c.receive_buffer.begin);
  wait_readable(&c);
  ASSERT_EQ(1, connection_poll(&c));
  EXPECT_EQ(300u, connection_received(&c));
  EXPECT_EQ(512, c.receive_buffer.limit - c.receive_buffer.begin);
  EXPECT_EQ(0, memcmp(data.data(), connection_received_data(&c), 300));

  // 212 bytes free in 512 is too little: the buffer doubles before reading.
  l.send_all(Bytes{1, 2, 3});
  wait_readable(&c);
  ASSERT_EQ(1, connection_poll(&c));
  EXPECT_EQ(1024, c.receive_buffer.limit - c.receive_buffer.begin);
  EXPECT_EQ(303u, connection_received(&c));

  connection_discard(&c, 0);
  EXPECT_EQ(303u, connection_received(&c));
  connection_discard(&c, 299);
  ASSERT_EQ(4u, connection_received(&c));
  EXPECT_EQ((Bytes{data[299], 1, 2, 3}),
            Bytes(connection_received_data(&c), connection_received_data(&c) + 4));
  connection_discard(&c, 1000);
  EXPECT_EQ(0u, connection_received(&c));
  connection_close(&c);
}

// A closed peer is reported as lost, by a read or by a send (without a
// signal); what arrived before the close is still there to be taken.
TEST(Connection, ClosedPeerIsReportedAsLostByReadAndBySend) {
  for (bool sending : {false, true}) {
    Listener l;
    Connection c;
    ASSERT_EQ(1, connection_open(&c, "127.0.0.1", l.port));
    ASSERT_TRUE(l.accept_peer());
    if (!sending) l.send_all(Bytes{0xFF, 0x00, 0x00});
    close(l.peer);
    l.peer = -1;
    Bytes data = pattern(512);
    int result = 1;
    // The first sends may still be accepted locally; the reset ends it.
    for (int i = 0; i < 1000 && result == 1; ++i) {
      if (sending) {
        ASSERT_EQ(1, connection_queue(&c, data.data(), data.size()));
      }
      wait_readable(&c);
      errno = EAGAIN;  // left over from an earlier call: the end of the stream is no pause
      result = connection_poll(&c);
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(1, c.failed);
    Message m;
    message_init(&m, 77);
    ASSERT_EQ(sending ? 0 : 1, message_receive(&m, &c));
    EXPECT_EQ(sending ? 77u : uint32_t(MSG_ACCEPTED), m.type);
    connection_close(&c);
  }
}
