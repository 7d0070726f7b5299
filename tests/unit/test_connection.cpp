// The connection against a real listener on 127.0.0.1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/connection.h"
#include "net_test_support.h"

using Bytes = std::vector<uint8_t>;
using nettest::readable;

namespace {

// A connection c opened by name to a listener (receive buffer as given when above 0), its
// peer, and the buffers it moves: out to the peer, in from it.
struct Listener {
  int listen_fd, peer;
  uint16_t port;
  Connection c;
  ByteBuffer out = {}, in = {};
  explicit Listener(int receive_buffer = 0) {
    listen_fd = nettest::listen_on_loopback(&port, 1, receive_buffer);
    EXPECT_EQ(1, connection_open(&c, "localhost", port));
    peer = accept(listen_fd, nullptr, nullptr);
  }
  ~Listener() {
    connection_close(&c);
    byte_buffer_release(&out);
    byte_buffer_release(&in);
    close(peer);
    close(listen_fd);
  }
  // Everything that arrives within the wait, without blocking longer.
  Bytes read_available(int wait_ms) {
    Bytes out;
    uint8_t buf[4096];
    for (ssize_t n; readable(peer, wait_ms) && (n = recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
      out.insert(out.end(), buf, buf + n);
    return out;
  }
  // Sends the bytes to the connection and polls it once they are readable.
  void deliver(const Bytes& data) {
    ASSERT_EQ(ssize_t(data.size()), send(peer, data.data(), data.size(), MSG_NOSIGNAL));
    readable(c.socket_handle, 2000);
    ASSERT_EQ(1, poll());
  }
  int poll() { return connection_poll(&c, &out, &in); }
};

Bytes pattern(size_t n) { return nettest::patterned_frame(0, n - FRAME_HEADER_SIZE, 1); }

}  // namespace

// At most 512 bytes go out per poll, in order. When the socket fills up, polls
// stop sending but keep the rest, never blocking, until the peer reads. A peer
// that went away is reported as lost, also while we send (without a signal).
TEST(Connection, SendsAtMost512BytesPerPollKeepsWhatTheSocketRefusesAndNoticesAClosedPeer) {
  Listener l(4096);
  int small = 4096;
  setsockopt(l.c.socket_handle, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  Bytes data = pattern(300000);
  ASSERT_EQ(1, byte_buffer_append(&l.out, data.data(), data.size()));
  ASSERT_EQ(1, l.poll());
  EXPECT_EQ(data.size() - 512, byte_buffer_used(&l.out));
  Bytes got = l.read_available(100);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 512), got);
  // The peer reads nothing: the socket fills up and the rest stays queued.
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(1, l.poll());
  EXPECT_GT(byte_buffer_used(&l.out), 0u);
  for (int round = 0; round < 100000 && got.size() < data.size(); ++round) {
    ASSERT_EQ(1, l.poll());
    Bytes part = l.read_available(0);
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(0u, byte_buffer_used(&l.out));
  EXPECT_EQ(data, got);

  close(l.peer);
  l.peer = -1;
  int result = 1;
  // The first sends may still be accepted locally; the reset ends it.
  for (int i = 0; i < 1000 && result == 1; ++i) {
    ASSERT_EQ(1, byte_buffer_append(&l.out, data.data(), 512));
    readable(l.c.socket_handle, 2000);
    result = l.poll();
  }
  EXPECT_EQ(0, result);
  EXPECT_EQ(1, l.c.failed);
}

// The receive buffer doubles before a read that would find fewer than 256
// bytes free; discarding takes bytes from the front. A closed peer is reported
// as lost, but what arrived before the close is still there to be taken.
TEST(Connection, ReceiveBufferOffersAtLeast256FreeBytesAndKeepsWhatCameBeforeAClose) {
  Listener l;
  Bytes data = pattern(300);
  l.deliver(data);
  EXPECT_EQ(256u, byte_buffer_used(&l.in));  // 256 free bytes: no growth
  EXPECT_EQ(256, l.in.limit - l.in.begin);
  readable(l.c.socket_handle, 2000);
  ASSERT_EQ(1, l.poll());
  EXPECT_EQ(300u, byte_buffer_used(&l.in));
  EXPECT_EQ(512, l.in.limit - l.in.begin);
  EXPECT_EQ(0, memcmp(data.data(), l.in.begin, 300));
  l.deliver(Bytes{0xFF, 0, 0});  // 212 free in 512
  EXPECT_EQ(1024, l.in.limit - l.in.begin);
  byte_buffer_drop(&l.in, 299);
  ASSERT_EQ(4u, byte_buffer_used(&l.in));
  const uint8_t* rest = l.in.begin;
  EXPECT_EQ((Bytes{data[299], 0xFF, 0, 0}), Bytes(rest, rest + 4));
  byte_buffer_drop(&l.in, 1);
  close(l.peer);
  l.peer = -1;
  readable(l.c.socket_handle, 2000);
  errno = EAGAIN;  // left over from an earlier call: the end of the stream is no pause
  EXPECT_EQ(0, l.poll());
  EXPECT_EQ(1, l.c.failed);
  Message m;
  ASSERT_EQ(1, message_receive(&m, &l.in));
  EXPECT_EQ(uint32_t(MSG_ACCEPTED), m.type);
}

// A peer that resets the connection is lost at the first poll that reads the
// reset, not taken for a pause.
TEST(Connection, AResetPeerIsLostAtTheFirstPollThatSeesIt) {
  Listener l;
  linger abort_on_close = {1, 0};
  ASSERT_EQ(0, setsockopt(l.peer, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close));
  close(l.peer);
  l.peer = -1;
  ASSERT_TRUE(readable(l.c.socket_handle, 2000));
  EXPECT_EQ(0, l.poll());
  EXPECT_EQ(1, l.c.failed);
}
