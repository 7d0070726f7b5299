// The message record: field encodings, growth, strings, and the frame format
// taken out of the receive buffer in every split.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>

#include "net/connection.h"
#include "net/message.h"
#include "net_test_support.h"

using nettest::feed;
using nettest::offline_connection;
using nettest::patterned_frame;
using nettest::payload;
using nettest::sent_bytes;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes sent_frame(Message* m) {
  Connection c = offline_connection();
  EXPECT_EQ(1, message_send(m, &c));
  Bytes out = sent_bytes(&c);
  connection_close(&c);
  return out;
}

}  // namespace

TEST(MessageFrames, GoldenBytesOfTheProtocol) {
  Message pen;
  message_init(&pen, MSG_PEN);
  message_put_byte(&pen, 3);
  message_put_byte(&pen, 255);
  message_put_byte(&pen, 0);
  message_put_byte(&pen, 128);
  message_put_short(&pen, 10);
  message_put_short(&pen, -2);
  EXPECT_EQ((Bytes{0x00, 0x08, 0x00, 0x03, 0xFF, 0x00, 0x80, 0x0A, 0x00, 0xFE, 0xFF}),
            sent_frame(&pen));
  message_free(&pen);

  Message login;
  message_init(&login, MSG_LOGIN);
  message_put_int(&login, 9);
  message_put_string(&login, "Ann");
  EXPECT_EQ((Bytes{0x06, 0x08, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E, 0x6E, 0x00}),
            sent_frame(&login));
  message_free(&login);

  Message restart;
  message_init(&restart, MSG_RESTART);
  message_put_byte(&restart, 1);
  EXPECT_EQ((Bytes{0x09, 0x01, 0x00, 0x01}), sent_frame(&restart));
  message_free(&restart);

  Message accepted;
  message_init(&accepted, MSG_ACCEPTED);
  EXPECT_EQ((Bytes{0xFF, 0x00, 0x00}), sent_frame(&accepted));
  EXPECT_EQ((Bytes{0xFF, 0x00, 0x00}), nettest::frame_of(&accepted));
}

TEST(MessageFrames, OnlyTheLowByteOfTheTypeAndMultiByteFieldsLittleEndian) {
  Message m;
  message_init(&m, 0x1234);
  message_put_int(&m, 0xA1B2C3D4u);
  message_put_short(&m, 0x12345);  // only the low 16 bits
  EXPECT_EQ((Bytes{0x34, 0x06, 0x00, 0xD4, 0xC3, 0xB2, 0xA1, 0x45, 0x23}), sent_frame(&m));
  EXPECT_EQ(0xA1B2C3D4u, message_get_int(&m));
  EXPECT_EQ(0x2345, message_get_short(&m));
  message_free(&m);
}

TEST(MessageFrames, SendAppendsBehindQueuedBytesAndRefusesOversizedPayloads) {
  Connection c = offline_connection();
  Message a, big;
  message_init(&a, MSG_KICK);
  message_put_byte(&a, 7);
  ASSERT_EQ(1, message_send(&a, &c));
  ASSERT_EQ(1, message_send(&a, &c));
  EXPECT_EQ((Bytes{0x0A, 0x01, 0x00, 0x07, 0x0A, 0x01, 0x00, 0x07}), sent_bytes(&c));

  // 65536 payload bytes cannot be described by the 16-bit length: the frame
  // would desynchronise the stream, so nothing of it is queued.
  message_init(&big, MSG_CHAT);
  for (int i = 0; i < 65536; ++i) ASSERT_EQ(1, message_put_byte(&big, 'x'));
  EXPECT_EQ(0, message_send(&big, &c));
  EXPECT_EQ(8u, sent_bytes(&c).size());
  message_free(&big);
  message_free(&a);
  connection_close(&c);
}

TEST(MessageStorage, StartsAtSixteenBytesAndDoublesKeepingOffsets) {
  Message m;
  message_init(&m, MSG_CHAT);
  EXPECT_EQ(nullptr, m.begin);
  message_put_byte(&m, 1);
  EXPECT_EQ(16, m.limit - m.begin);
  for (int i = 2; i <= 15; ++i) message_put_byte(&m, i);
  EXPECT_EQ(16, m.limit - m.begin);  // 1 byte free is not enough for the next one
  message_get_byte(&m);
  message_get_byte(&m);
  message_put_byte(&m, 16);
  EXPECT_EQ(32, m.limit - m.begin);
  EXPECT_EQ(2, m.read_pos - m.begin);
  EXPECT_EQ(16, m.end - m.begin);
  EXPECT_EQ(3, message_get_byte(&m));
  for (int i = 17; i <= 31; ++i) message_put_byte(&m, i);
  EXPECT_EQ(32, m.limit - m.begin);
  message_put_byte(&m, 32);
  EXPECT_EQ(64, m.limit - m.begin);
  Bytes expected;
  for (int i = 1; i <= 32; ++i) expected.push_back(uint8_t(i));
  EXPECT_EQ(expected, payload(&m));
  message_free(&m);
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
  message_put_short(&m, 65);
  message_put_short(&m, 26214);
  message_put_short(&m, 1);
  float decoded = message_get_scaled(&m);
  EXPECT_EQ(float(65 * 0.015259021896696421), decoded);
  EXPECT_NEAR(0.9918, decoded, 1e-4);
  EXPECT_EQ(400.0f, message_get_scaled(&m));
  EXPECT_EQ(0.015259021893143654f, message_get_scaled(&m));
  message_free(&m);
}

TEST(MessageStrings, PutKeepsOnlySpaceThroughTilde) {
  Message m;
  message_init(&m, MSG_CHAT);
  message_put_string(&m, nullptr);
  message_put_string(&m, "");
  message_put_string(&m, "a\tb");
  message_put_string(&m, "\x01 ~\x7F\x80\xC3\xA9\xFF\xFD!");
  EXPECT_EQ((Bytes{0, 0, 'a', 'b', 0, ' ', '~', '!', 0}), payload(&m));
  message_free(&m);
}

TEST(MessageStrings, GetCutsToCapacityDropsControlAndHighBytes) {
  Message m;
  message_init(&m, MSG_CHAT);
  const char* twenty = "abcdefghijklmnopqrst";
  for (const char* p = twenty; *p; ++p) message_put_byte(&m, *p);
  message_put_byte(&m, 0);
  // Raw bytes as a hostile server might send them: colour escapes and controls.
  for (uint8_t b : {uint8_t('h'), uint8_t(0xFF), uint8_t(0xFC), uint8_t('i'), uint8_t('\n'),
                    uint8_t(0x80), uint8_t(0)})
    message_put_byte(&m, b);
  message_put_byte(&m, 'z');  // unterminated last string

  char buf[16];
  memset(buf, 'X', sizeof buf);
  message_get_string(&m, buf, sizeof buf);
  EXPECT_STREQ("abcdefghijklmno", buf);
  EXPECT_EQ(21, message_tell(&m));
  message_get_string(&m, buf, sizeof buf);
  EXPECT_STREQ("hi", buf);
  message_get_string(&m, buf, sizeof buf);
  EXPECT_STREQ("z", buf);
  EXPECT_EQ(0, message_remaining(&m));
  message_get_string(&m, buf, sizeof buf);
  EXPECT_STREQ("", buf);
  char one[1] = {'X'};
  message_seek(&m, 0);
  message_get_string(&m, one, 1);
  EXPECT_EQ(0, one[0]);
  EXPECT_EQ(21, message_tell(&m));
  message_free(&m);
}

TEST(MessageReading, PastTheEndReadsZeroAndSeekRestoresDecoding) {
  Message empty;
  message_init(&empty, MSG_RESTART);
  EXPECT_EQ(0, message_get_byte(&empty));
  EXPECT_EQ(0u, message_get_int(&empty));
  EXPECT_EQ(0, message_remaining(&empty));
  EXPECT_EQ(0, message_tell(&empty));
  message_seek(&empty, 10);
  EXPECT_EQ(nullptr, empty.read_pos);

  Message m;
  message_init(&m, MSG_PEN);
  message_put_byte(&m, 0xAB);
  message_put_byte(&m, 0xCD);
  message_put_byte(&m, 0xEF);
  message_get_byte(&m);
  uint16_t mark = message_tell(&m);
  EXPECT_EQ(0xEFCD, message_get_short(&m));
  EXPECT_EQ(0x00, message_get_short(&m));  // both bytes missing
  EXPECT_EQ(3, m.read_pos - m.begin);      // reading past the end does not move
  message_seek(&m, mark);
  EXPECT_EQ(0xEFCD, message_get_short(&m));
  message_seek(&m, 1000);
  EXPECT_EQ(3, message_tell(&m));
  message_seek(&m, 0);
  EXPECT_EQ(uint32_t(0x00EFCDAB), message_get_int(&m));  // a missing byte reads as 0
  message_free(&m);
}

// Frames fed in pieces of every kind come out whole and in order; an
// incomplete header or payload consumes nothing and leaves the message alone.
// A backlog over 65535 bytes ahead of the largest payloads catches counts kept
// in 16 bits.
TEST(MessageReceive, FramesFedInAnySplitComeOutWholeAndInOrder) {
  std::vector<Bytes> frames;
  size_t backlog = 0;
  for (unsigned i = 0; backlog < 70000; ++i) {
    frames.push_back(patterned_frame(i % 3 ? MSG_PENCIL : MSG_CHAT, 1000 + i * 7 % 300, i));
    backlog += frames.back().size();
  }
  frames.push_back(patterned_frame(MSG_ACCEPTED, 0, 2));
  frames.push_back(patterned_frame(MSG_CHAT, 65535, 99));
  frames.push_back(patterned_frame(MSG_SMUDGE, 65533, 98));
  frames.push_back(patterned_frame(MSG_PEN, 1, 97));
  Bytes stream;
  for (const Bytes& f : frames) stream.insert(stream.end(), f.begin(), f.end());
  for (size_t chunk : {size_t(1), size_t(2), size_t(5), size_t(4099), stream.size() - 1}) {
    Connection c = offline_connection();
    size_t fed = 0, taken = 0, consumed = 0;
    while (fed < stream.size()) {
      size_t n = std::min(chunk, stream.size() - fed);
      feed(&c, stream.data() + fed, n);
      fed += n;
      Message m;
      message_init(&m, 77);
      while (message_receive(&m, &c)) {
        ASSERT_LT(taken, frames.size());
        ASSERT_EQ(frames[taken], nettest::frame_of(&m)) << "frame " << taken << " chunk " << chunk;
        EXPECT_EQ(m.limit, m.end);
        EXPECT_EQ(m.begin, m.read_pos);
        EXPECT_EQ(message_length(&m) == 0, m.begin == nullptr);
        consumed += frames[taken++].size();
        message_free(&m);
        message_init(&m, 77);
      }
      ASSERT_EQ(77u, m.type);
      ASSERT_EQ(fed - consumed, connection_received(&c)) << "chunk " << chunk;
    }
    EXPECT_EQ(frames.size(), taken) << "chunk " << chunk;
    connection_close(&c);
  }
}

TEST(MessageFrames, HelpersAgreeOnSizes) {
  Bytes f = patterned_frame(MSG_STAMP, 20, 1);
  EXPECT_EQ(0u, frame_complete_size(f.data(), 0));
  EXPECT_EQ(0u, frame_complete_size(f.data(), 2));
  EXPECT_EQ(0u, frame_complete_size(f.data(), 22));
  EXPECT_EQ(23u, frame_complete_size(f.data(), 23));
  EXPECT_EQ(23u, frame_complete_size(f.data(), 1000));
  Message m;
  ASSERT_EQ(1, message_from_frame(&m, f.data()));
  EXPECT_EQ(uint32_t(MSG_STAMP), m.type);
  EXPECT_EQ(20u, message_length(&m));
  EXPECT_EQ(f, nettest::frame_of(&m));
  message_free(&m);
}
