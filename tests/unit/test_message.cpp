// The message record: field encodings, growth, strings, and the frame format
// taken out of the receive buffer in every split.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "net/byte_buffer.h"
#include "net/message.h"
#include "net_test_support.h"

using nettest::patterned_frame;
using nettest::payload;
using nettest::buffered;
using Bytes = std::vector<uint8_t>;

// Frames as the shared frame writer builds them and as sent one behind the
// other: only the low byte of the type, multi-byte fields little-endian,
// shorts cut to 16 bits. 65536 payload bytes cannot be described by the 16-bit
// length: the frame would desynchronise the stream, so nothing of it is queued.
TEST(MessageFrames, GoldenBytesOfTheProtocol) {
  Message m[5];
  message_init(&m[0], MSG_PEN);
  for (int b : {3, 255, 0, 128}) message_put_byte(&m[0], b);
  message_put_short(&m[0], 10);
  message_put_short(&m[0], -2);
  message_init(&m[1], MSG_LOGIN);
  message_put_int(&m[1], 9);
  message_put_string(&m[1], "Ann");
  message_init(&m[2], MSG_RESTART);
  message_put_byte(&m[2], 1);
  message_init(&m[3], MSG_ACCEPTED);
  message_init(&m[4], 0x1234);
  message_put_int(&m[4], 0xA1B2C3D4u);
  message_put_short(&m[4], 0x12345);
  const Bytes frames[5] = {{0x00, 0x08, 0x00, 0x03, 0xFF, 0x00, 0x80, 0x0A, 0x00, 0xFE, 0xFF},
                           {0x06, 0x08, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E, 0x6E, 0x00},
                           {0x09, 0x01, 0x00, 0x01},
                           {0xFF, 0x00, 0x00},
                           {0x34, 0x06, 0x00, 0xD4, 0xC3, 0xB2, 0xA1, 0x45, 0x23}};
  ByteBuffer c = {};
  Bytes sent;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(frames[i], nettest::frame_of(&m[i])) << "type " << m[i].type;
    ASSERT_EQ(1, message_send(&m[i], &c));
    sent.insert(sent.end(), frames[i].begin(), frames[i].end());
    message_free(&m[i]);
  }
  Message big;
  message_init(&big, MSG_CHAT);
  for (int i = 0; i < 65536; ++i) ASSERT_EQ(1, message_put_byte(&big, 'x'));
  EXPECT_EQ(0, message_send(&big, &c));
  EXPECT_EQ(sent, buffered(&c));
  message_free(&big);
  byte_buffer_release(&c);
}

TEST(MessageScaled, ClampsTruncatesAndDecodesWithTheExactConstants) {
  struct Case {
    double in;
    int wire;
  } cases[] = {
      {-3.0, 0}, {1000.0, 26214}, {400.0, 26214}, {1.0, 65}, {0.5, 32}, {12.3, 806},
      {399.99, 26213}, {NAN, 0},
      // The decoded value of 1 (and of 2) times 65.535 in double precision lies just
      // below the integer: truncation gives one step less. Single precision would not.
      {double(0.015259021893143654f), 0}, {double(0.030518043786287308f), 1},
  };
  for (const Case& k : cases) {
    Message m;
    message_init(&m, MSG_SMUDGE);
    ASSERT_EQ(1, message_put_scaled(&m, k.in));
    EXPECT_EQ(k.wire, message_get_short(&m)) << "value " << k.in;
    message_free(&m);
  }
  Message m;
  message_init(&m, MSG_SMUDGE);
  for (int wire : {65, 26214, 1}) message_put_short(&m, wire);
  EXPECT_EQ(float(65 * 0.015259021896696421), message_get_scaled(&m));
  EXPECT_EQ(400.0f, message_get_scaled(&m));
  EXPECT_EQ(0.015259021893143654f, message_get_scaled(&m));
  message_free(&m);
}

// Strings keep only space through tilde, both ways; reads are cut to the
// buffer's capacity but consume the whole string, and an unterminated last
// string ends at the payload's end.
TEST(MessageStrings, OnlySpaceThroughTildeCutToCapacity) {
  Message m;
  message_init(&m, MSG_CHAT);
  message_put_string(&m, nullptr);
  message_put_string(&m, "\x01 ~\x7F\x80\xC3\xA9\xFF\xFD\t!");
  EXPECT_EQ((Bytes{0, ' ', '~', '!', 0}), payload(&m));
  message_free(&m);
  // Raw bytes as a hostile server might send them: colour escapes and controls.
  m = nettest::raw_message(MSG_CHAT, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm',
                                      'n', 'o', 'p', 0, 'h', 0xFF, 0xFC, 'i', '\n', 0x80, 0, 'q', 0, 'z'});
  const struct {
    uint16_t capacity;
    const char* text;
    int tell;
  } reads[] = {{16, "abcdefghijklmno", 17}, {16, "hi", 24}, {1, "", 26}, {16, "z", 27}, {16, "", 27}};
  for (const auto& r : reads) {
    char buf[16];
    memset(buf, 'X', sizeof buf);
    message_get_string(&m, buf, r.capacity);
    EXPECT_STREQ(r.text, buf);
    EXPECT_EQ(r.tell, message_tell(&m));
  }
  // A seek back reads the same string again; one past the end leaves nothing.
  char again[16];
  message_seek(&m, 17);
  message_get_string(&m, again, sizeof again);
  EXPECT_STREQ("hi", again);
  message_seek(&m, 1000);
  EXPECT_EQ(0, message_remaining(&m));
  message_free(&m);
}

// Frames fed in pieces of every kind come out whole and in order; an
// incomplete header or payload consumes nothing and leaves the message alone.
// A backlog over 65535 bytes ahead of the largest payloads catches counts kept
// in 16 bits.
TEST(MessageReceive, FramesFedInAnySplitComeOutWholeAndInOrder) {
  std::vector<Bytes> frames;
  Bytes stream;
  auto add = [&](uint8_t type, size_t length, unsigned seed) {
    frames.push_back(patterned_frame(type, length, seed));
    stream.insert(stream.end(), frames.back().begin(), frames.back().end());
  };
  for (unsigned i = 0; stream.size() < 70000; ++i) add(i % 3 ? MSG_PENCIL : MSG_CHAT, 1000 + i * 7 % 300, i);
  add(MSG_ACCEPTED, 0, 2);
  add(MSG_CHAT, 65535, 99);
  add(MSG_SMUDGE, 65533, 98);
  add(MSG_PEN, 1, 97);
  for (size_t chunk : {size_t(1), size_t(2), size_t(5), size_t(4099), stream.size() - 1}) {
    ByteBuffer c = {};
    ASSERT_EQ(1, byte_buffer_append(&c, stream.data(), 0));  // nothing to store: done
    size_t fed = 0, taken = 0, consumed = 0, peak = 0;
    while (fed < stream.size()) {
      size_t n = std::min(chunk, stream.size() - fed);
      ASSERT_TRUE(byte_buffer_append(&c, stream.data() + fed, n));
      fed += n;
      // Taken bytes are reused, so the storage follows what is held, not what passed.
      peak = std::max(peak, byte_buffer_used(&c));
      ASSERT_LE(size_t(c.limit - c.storage), 4 * (peak + n) + 256) << "chunk " << chunk;
      Message m;
      message_init(&m, 77);
      while (message_receive(&m, &c)) {
        ASSERT_LT(taken, frames.size());
        ASSERT_EQ(frames[taken], nettest::frame_of(&m)) << "frame " << taken << " chunk " << chunk;
        EXPECT_EQ(m.begin, m.read_pos);
        consumed += frames[taken++].size();
        message_free(&m);
        message_init(&m, 77);
      }
      ASSERT_EQ(77u, m.type);
      ASSERT_EQ(fed - consumed, byte_buffer_used(&c)) << "chunk " << chunk;
    }
    EXPECT_EQ(frames.size(), taken) << "chunk " << chunk;
    byte_buffer_release(&c);
  }
}
