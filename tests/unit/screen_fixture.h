// A screen of a given size (1024 x 768 unless a test opens another) in memory
// bitmaps, every module reset on set-up; the world is closed after each test so
// the leak checker sees nothing left at exit.
#pragma once
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/client.h"
#include "paint/canvas.h"
#include "ui/dirty_list.h"
#include "paint/pixel.h"
#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/chat_view.h"
#include "ui/colour_picker.h"
#include "ui/user_labels.h"
#include "ui/screen.h"
#include "ui/toolbar.h"

class ScreenTest : public testing::Test {
 protected:
  void open_screen(int w, int h) {
    client_world_close();
    ASSERT_TRUE(client_world_open(w, h));
    clear_to_color(BackBuffer, makecol32(1, 2, 3));
    image_fill(&LocalCanvas, pack_pixel(255, 255, 255));
    clear_to_color(ToolbarStrip, makecol32(0, 0, 0));
    dirty_list_clear();
  }
  void SetUp() override {
    client_state_reset();
    open_screen(1024, 768);
  }
  void TearDown() override { client_world_close(); }
  static void set_colour(float r, float g, float b) {
    const float rgb[3] = {r, g, b};
    std::copy(rgb, rgb + 3, board.colour.rgb);
  }
  // Every bitmap here is 32-bit, where a colour has one packing.
  static void expect_rgb(BITMAP* bmp, int x, int y, int r, int g, int b) {
    EXPECT_EQ(getpixel(bmp, x, y), makecol32(r, g, b)) << "at " << x << "," << y;
  }
  static std::vector<int> xywh(const DirtyRect& r) { return {r.x, r.y, r.w, r.h}; }
};
