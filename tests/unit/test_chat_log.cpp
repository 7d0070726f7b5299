// The chat log: line formatting, the ring, word wrapping with colour escapes,
// and the overlay whose lines expire one at a time.
#include "screen_fixture.h"
#include "test_support.h"

namespace {


class ChatLogTest : public ScreenTest {
 protected:
  static int count_lines() {
    const ChatLog& log = board.chat_log;
    return (log.head - log.oldest + CHAT_LOG_SLOTS) % CHAT_LOG_SLOTS;
  }
  static const ChatLine& newest() {
    const ChatLog& log = board.chat_log;
    return log.lines[(log.head + CHAT_LOG_SLOTS - 1) % CHAT_LOG_SLOTS];
  }
};

// Empty texts add nothing; an empty name shows as "???". Texts are cut to 599
// bytes, show_message's to 511 first; the ring keeps the last 149 lines.
TEST_F(ChatLogTest, LinesCarryTheirColourEscapesAreCutAndTheRingKeepsTheLast149) {
  const ChatLog& chat_log = board.chat_log;
  add_chat_line("bob", "");
  add_chat_line(nullptr, nullptr);
  show_message("%s", "");
  EXPECT_EQ(count_lines(), 0);
  EXPECT_EQ(chat_log.added, 0u);
  add_chat_line("", "x");
  EXPECT_EQ(std::string(newest().text), "\xFF\xFD???\xFF\xFE: \xFF\xFFx");
  const std::string text(700, 'a');
  add_chat_line(nullptr, text.c_str());
  EXPECT_EQ(newest().length, 599);
  EXPECT_EQ(strlen(newest().text), 599u);
  show_message("%s!", text.c_str());
  EXPECT_EQ(newest().length, 2 + 511);
  for (int i = 4; i <= 150; ++i) show_message("%d", i);
  EXPECT_EQ(count_lines(), 149);
  EXPECT_EQ(std::string(chat_log.lines[chat_log.oldest].text).substr(0, 4), "\xFF\xFC" "aa");
  for (int i = 151; i <= 400; ++i) show_message("%d", i);
  EXPECT_EQ(count_lines(), 149);
  EXPECT_EQ(chat_log.added, 400u);
  EXPECT_EQ(std::string(chat_log.lines[chat_log.oldest].text), "\xFF\xFC" "252");
  EXPECT_EQ(std::string(newest().text), "\xFF\xFC" "400");
}

// The default font is 8 x 8: lines every 10 pixels, 4 more after a text.
TEST(ChatText, WrapsWholeWordsBreaksLongOnesEscapesTakeNoSpaceAndPinnedDrawings) {
  ASSERT_EQ(text_height(font), 8);
  ASSERT_EQ(text_length(font, "a"), 8);
  struct Case {
    const char* text;
    int width, height;
  } cases[] = {
      {"", 80, 4},
      {"aaaa bbbb", 80, 14},
      {"aaaa bbbbb", 80, 24},     // would end exactly at the edge
      {"aaaa   bbb", 80, 24},     // every space takes its width
      {"abcdefghijkl", 40, 34},   // 5 + 5 + 2
      {"abc", 4, 34},             // narrower than a character: one per line
      // Escapes take no space; a word as wide as the line fits.
      {"\xFF\xFC" "aaaa\xFF\xFF" "bbbbbb", 80, 14},
      {"\xFF\xFC" "aaaa\xFF\xFF" "bbbbbbb", 80, 24},
      {"aaaaaaaaaa\xFF", 80, 24},  // 0xFF before the end is an ordinary character
  };
  for (const Case& c : cases)
    EXPECT_EQ(measure_chat_text(c.text, c.width), c.height) << c.text << " / " << c.width;
  // Lines start two pixels below the top, system text yellow, spoken text
  // silver, plain text white, each over a black shadow; wrapped words start
  // the next line; drawing stops at the bottom of the bitmap.
  const struct {
    const char* text;
    int width, height, top, next;
    uint64_t sum;
  } drawings[] = {
      {"\xFF\xFCType \xFF\xFF/help\xFF\xFC for help.", 200, 30, 10, 24, 2746175284306385403u},
      {"aaaa bbbb cccc", 80, 30, 0, 24, 5192350115902326381u},
      {"aaaa bbbb cccc dddd", 80, 30, 20, 32, 13455312700183193885u}};
  for (const auto& c : drawings) {
    BITMAP* bmp = create_bitmap_ex(32, c.width, c.height);
    clear_to_color(bmp, makecol32(50, 50, 50));
    EXPECT_EQ(c.next, draw_chat_text(bmp, c.text, c.width, c.top)) << c.text;
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(bmp)) << c.text;
    destroy_bitmap(bmp);
  }
}

// compose_screen draws only when forced or when a line appears or expires.
TEST_F(ChatLogTest, OverlayLinesExpireOneAtATimeOldestFirst) {
  EXPECT_FALSE(compose_screen(BackBuffer, &LocalCanvas, false));
  expect_rgb(BackBuffer, 500, 400, 1, 2, 3);
  EXPECT_TRUE(compose_screen(BackBuffer, &LocalCanvas, true));
  expect_rgb(BackBuffer, 500, 400, 255, 255, 255);
  expect_rgb(BackBuffer, 10, 10, 0, 0, 0);
  EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);
  board.now = 1000;
  // 2 + 38 bytes: shown for trunc(t + 2.0 + 0.5) < now, that is 3 seconds; a
  // line's time starts only when the older ones are gone or showing.
  const std::string text(38, 'x');
  add_chat_line(nullptr, text.c_str());
  add_chat_line(nullptr, text.c_str());
  const ChatLine* line = board.chat_log.lines;
  ASSERT_EQ(board.chat_log.oldest, 0);
  ASSERT_EQ(line[0].length, 40);
  std::string seen;  // per second: redrawn or not, then the states of the lines
  auto run = [&](time_t from, time_t to) {
    for (board.now = from; board.now <= to; ++board.now) {
      seen += compose_screen(BackBuffer, &LocalCanvas, false) ? "drawn " : "- ";
      for (int i = 0; i < count_lines(); ++i) seen += char('0' + line[i].state);
      seen += ' ';
    }
  };
  run(1000, 1005);
  // Expired lines stay in the log for the Chat panel; a later one runs its own timer at once.
  board.now = 1005;
  add_chat_line(nullptr, text.c_str());
  run(1005, 1008);
  EXPECT_EQ(seen, "drawn 11 - 11 - 11 drawn 01 - 01 drawn 00 "
                  "drawn 001 - 001 - 001 drawn 000 ");
}

// Shown lines stack from the top, a system line in yellow, then a spoken one.
TEST_F(ChatLogTest, PinnedOverlayOfTwoLines) {
  open_screen(640, 480);  // no band: the text lies over the picture
  add_chat_line(nullptr, "one");
  add_chat_line("ann", "two");
  EXPECT_TRUE(compose_screen(BackBuffer, &LocalCanvas, false));
  EXPECT_EQ(4642929133626567972u, testsupport::bitmap_checksum(BackBuffer));
}

}  // namespace
