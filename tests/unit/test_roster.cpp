// The user roster: ids, names, the high-water mark, prefix lookup; the labels.
#include "screen_fixture.h"
#include "session/roster.h"
#include "test_support.h"

namespace {

class RosterTest : public ScreenTest {};

// Ids 1..128 only; a name brings lower ids into range as free records;
// removing keeps the high-water mark; colour and position outlive a clear.
TEST(Roster, RecordsTheHighWaterMarkAndWhatOutlivesAClear) {
  Roster roster = {};
  Roster* r = &roster;
  roster_set_name(r, 0, "zero");
  roster_set_name(r, 129, "big");
  roster_set_name(r, 7, nullptr);
  EXPECT_EQ(roster.used, 0);
  roster_set_name(r, 5, "eve");
  EXPECT_EQ(roster.used, 5);
  for (int id = 0; id <= 6; ++id) EXPECT_EQ(roster_exists(r, id), id == 5) << id;
  EXPECT_EQ(roster_name(r, 4), nullptr);
  roster_set_name(r, 2, "bob");
  EXPECT_EQ(roster.used, 5);
  EXPECT_STREQ(roster_name(r, 5), "eve");  // a lower id does not empty higher ones
  roster_remove(r, 5);
  EXPECT_EQ(roster_name(r, 5), nullptr);
  EXPECT_EQ(roster.used, 5);
  roster_set_colour(r, 2, 10.5f, 20, 30);
  roster_set_position(r, 2, -7, 300);
  roster_set_colour(r, 3, 1, 2, 3);  // absent ids are left alone
  roster_set_position(r, 3, 4, 5);
  roster_clear(r);
  EXPECT_EQ(roster.used, 0);
  roster_set_name(r, 2, "abcdefghijklmnopqrst");
  EXPECT_STREQ(roster_name(r, 2), "abcdefghijklmno");
  EXPECT_EQ(roster.users[2].red, 10.5f);
  EXPECT_EQ(roster.users[2].x, -7);
  EXPECT_EQ(roster.users[2].y, 300);
  EXPECT_EQ(roster.users[3].red, 0.0f);
  EXPECT_EQ(roster.users[3].x, 0);
  roster_set_name(r, 128, "last");
  EXPECT_EQ(roster.used, 128);
  EXPECT_EQ(roster_find(r, "l"), 128);
}

// "1:abc" is 40 x 8, centred on the user's position on the screen, in the
// user's colour with a black outline when bright and a white one when dark.
// Then one label per present user on the screen, in id order.
TEST_F(RosterTest, PinnedLabelsOfABrightAndADarkUserAndOnePerPresentUserInIdOrder) {
  const struct {
    float rgb[3];
    uint64_t sum;
  } cases[] = {{{200, 10, 10}, 7323268952616485666u}, {{100.9f, 100, 100}, 13370914112424139864u}};
  roster_set_name(&board.roster, 1, "abc");
  roster_set_position(&board.roster, 1, 100, 100);
  for (const auto& c : cases) {
    clear_to_color(BackBuffer, makecol32(128, 128, 128));
    dirty_list_clear();
    roster_set_colour(&board.roster, 1, c.rgb[0], c.rgb[1], c.rgb[2]);
    draw_user_labels();
    ASSERT_EQ(dirty_list.count, 1);
    EXPECT_EQ(xywh(dirty_list.rects[0]), (std::vector<int>{156 - 20 - 1, 142 - 4 - 1, 42, 10}));
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(BackBuffer)) << c.rgb[0];
  }
  roster_set_name(&board.roster, 2, "b");
  roster_remove(&board.roster, 2);
  roster_set_name(&board.roster, 3, "c");
  roster_set_position(&board.roster, 3, -300, -300);  // off the screen
  roster_set_name(&board.roster, 4, "d");
  roster_set_position(&board.roster, 4, 500, 300);
  dirty_list_clear();
  draw_user_labels();
  ASSERT_EQ(dirty_list.count, 2);
  EXPECT_EQ(dirty_list.rects[0].x, 156 - 20 - 1);
  EXPECT_EQ(dirty_list.rects[1].x, 500 + 56 - 12 - 1);
}

}  // namespace
