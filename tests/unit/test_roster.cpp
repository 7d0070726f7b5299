// The user roster: ids, names, the high-water mark, prefix lookup and labels.
#include <cstring>

#include "screen_fixture.h"

namespace {

class RosterTest : public ScreenTest {};

TEST_F(RosterTest, SettingANameBringsLowerIdsIntoRangeAsFreeRemovingKeepsTheMark) {
  roster_set_name(5, "eve");
  EXPECT_EQ(roster.used, 5);
  for (int id = 1; id <= 4; ++id) EXPECT_FALSE(roster_exists(id)) << id;
  EXPECT_TRUE(roster_exists(5));
  EXPECT_STREQ(roster_name(5), "eve");
  EXPECT_EQ(roster_name(4), nullptr);
  EXPECT_EQ(roster_name(6), nullptr);
  roster_set_name(2, "bob");
  EXPECT_EQ(roster.used, 5);
  EXPECT_STREQ(roster_name(5), "eve");  // a lower id does not empty higher ones
  roster_remove(5);  // frees the record but keeps the mark
  EXPECT_FALSE(roster_exists(5));
  EXPECT_EQ(roster_name(5), nullptr);
  EXPECT_EQ(roster.used, 5);
  roster_clear();
  EXPECT_EQ(roster.used, 0);
}

TEST_F(RosterTest, LongNamesAreCutToFifteenCharacters) {
  roster_set_name(1, "abcdefghijklmnopqrst");
  EXPECT_STREQ(roster_name(1), "abcdefghijklmno");
}

TEST_F(RosterTest, IdZeroAndIdsAbove128AreNeverStored) {
  roster_set_name(0, "zero");
  roster_set_name(129, "big");
  roster_set_name(-3, "neg");
  roster_set_name(7, nullptr);
  EXPECT_EQ(roster.used, 0);
  EXPECT_FALSE(roster_exists(0));
  EXPECT_FALSE(roster_exists(129));
  EXPECT_EQ(roster_name(129), nullptr);
  roster_set_name(128, "last");
  EXPECT_EQ(roster.used, 128);
  EXPECT_STREQ(roster_name(128), "last");
  // Absent ids are left alone.
  roster_set_colour(129, 1, 2, 3);
  roster_set_position(0, 4, 5);
  roster_set_colour(3, 1, 2, 3);
  EXPECT_EQ(roster.users[3].red, 0.0f);
  EXPECT_EQ(roster_find("l"), 128);
}

TEST_F(RosterTest, ColourAndPositionOutliveAClearAndANewName) {
  roster_set_name(2, "ann");
  roster_set_colour(2, 10.5f, 20, 30);
  roster_set_position(2, -7, 300);
  roster_clear();
  roster_set_name(2, "ben");
  EXPECT_EQ(roster.users[2].red, 10.5f);
  EXPECT_EQ(roster.users[2].x, -7);
  EXPECT_EQ(roster.users[2].y, 300);
}

TEST_F(RosterTest, FindMatchesAUniquePrefixIgnoringCase) {
  roster_set_name(1, "abc");
  roster_set_name(3, "ABD");
  EXPECT_EQ(roster_find("ab"), 0);  // two users match
  EXPECT_EQ(roster_find("ABC"), 1);
  EXPECT_EQ(roster_find("abd"), 3);
  EXPECT_EQ(roster_find("x"), 0);
  EXPECT_EQ(roster_find("abcd"), 0);  // longer than the name
  EXPECT_EQ(roster_find(nullptr), 0);
  EXPECT_EQ(roster_find(""), 0);
  roster_remove(1);
  EXPECT_EQ(roster_find("ab"), 3);  // free records are skipped
  EXPECT_EQ(roster_find(""), 3);
}

class Labels : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    clear_to_color(BackBuffer, makecol32(128, 128, 128));
  }
  // Pixels of one colour inside a box.
  long count(int x, int y, int w, int h, int r, int g, int b) {
    long n = 0;
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i)
        if (is_rgb(BackBuffer, i, j, r, g, b)) ++n;
    return n;
  }
};

TEST_F(Labels, BrightUsersGetBlackOutlinesDarkOnesWhite) {
  roster_set_name(1, "abc");
  roster_set_colour(1, 200, 10, 10);
  roster_set_position(1, 100, 100);
  draw_user_labels();
  // "1:abc" is 40 x 8: the box is centred on (156, 142) on the screen.
  ASSERT_EQ(dirty_list.count, 1);
  const DirtyRect r = dirty_list.rects[0];
  EXPECT_EQ(xywh(r), (std::vector<int>{156 - 20 - 1, 142 - 4 - 1, 42, 10}));
  EXPECT_GT(count(r.x, r.y, r.w, r.h, 200, 10, 10), 20);
  EXPECT_GT(count(r.x, r.y, r.w, r.h, 0, 0, 0), 20);
  EXPECT_EQ(count(r.x, r.y, r.w, r.h, 255, 255, 255), 0);
  // Nothing outside the box.
  const long box = static_cast<long>(r.w) * r.h;
  EXPECT_EQ(1024L * 768 - count(0, 0, 1024, 768, 128, 128, 128),
            box - count(r.x, r.y, r.w, r.h, 128, 128, 128));

  clear_to_color(BackBuffer, makecol32(128, 128, 128));
  roster_set_colour(1, 100.9f, 100, 100);
  draw_user_labels();
  EXPECT_GT(count(r.x, r.y, r.w, r.h, 100, 100, 100), 20);
  EXPECT_GT(count(r.x, r.y, r.w, r.h, 255, 255, 255), 20);
  EXPECT_EQ(count(r.x, r.y, r.w, r.h, 0, 0, 0), 0);
}

TEST_F(Labels, OneLabelPerPresentUserInIdOrder) {
  roster_set_name(1, "a");
  roster_set_name(2, "b");
  roster_set_name(4, "d");
  roster_remove(2);
  roster_set_position(1, 300, 300);
  roster_set_position(4, 500, 300);
  draw_user_labels();
  ASSERT_EQ(dirty_list.count, 2);
  EXPECT_EQ(dirty_list.rects[0].x, 300 + 56 - 12 - 1);
  EXPECT_EQ(dirty_list.rects[1].x, 500 + 56 - 12 - 1);
}

TEST_F(Labels, ALabelOffTheScreenAddsNothing) {
  open_screen(800, 600);
  roster_set_name(1, "abc");
  draw_user_labels();  // picture position (0, 0) lies at screen (-56, -42)
  EXPECT_EQ(dirty_list.count, 0);
}

}  // namespace
