// A screen of a given size (1024 x 768 unless a test opens another) with the
// shared bitmaps the screen code draws into, every module's state reset.
// Headless: everything is a memory bitmap.
#pragma once
#include <allegro.h>
#include <gtest/gtest.h>

#include <vector>

#include "app/client.h"
#include "paint/canvas.h"
#include "paint/dirty_rect.h"
#include "ui/chat_log.h"
#include "ui/colour_picker.h"
#include "ui/roster.h"
#include "ui/screen.h"
#include "ui/toolbar.h"

class ScreenTest : public testing::Test {
 protected:
  void open_screen(int w, int h) {
    client_world_close();
    ASSERT_TRUE(client_world_open(w, h));
    clear_to_color(BackBuffer, makecol32(1, 2, 3));
    clear_to_color(LocalCanvas, makecol32(255, 255, 255));
    clear_to_color(ToolbarStrip, makecol32(0, 0, 0));
    dirty_list_clear();
  }
  void SetUp() override {
    client_state_reset();
    open_screen(1024, 768);
  }
  void TearDown() override {
    client_state_reset();
    client_world_close();
  }
  static void set_colour(float r, float g, float b) {
    current_rgb[0] = r;
    current_rgb[1] = g;
    current_rgb[2] = b;
  }
  static bool is_rgb(BITMAP* bmp, int x, int y, int r, int g, int b) {
    int p = getpixel(bmp, x, y);
    return getr32(p) == r && getg32(p) == g && getb32(p) == b;
  }
  static void expect_rgb(BITMAP* bmp, int x, int y, int r, int g, int b) {
    EXPECT_TRUE(is_rgb(bmp, x, y, r, g, b))
        << "at " << x << "," << y << ": " << std::hex << getpixel(bmp, x, y);
  }
  static std::vector<int> xywh(const DirtyRect& r) { return {r.x, r.y, r.w, r.h}; }
};
