// A screen of a given size with the shared bitmaps the screen code draws into,
// and the process-wide state of the screen, tool bar, roster and chat log
// reset. Headless: everything is a memory bitmap.
#pragma once
#include <allegro.h>
#include <gtest/gtest.h>

#include <vector>

#include "app/client.h"
#include "app/config.h"
#include "app/roster.h"
#include "paint/canvas.h"
#include "ui/chat_log.h"
#include "ui/dirty_rect.h"
#include "ui/screen.h"
#include "ui/toolbar.h"

class ScreenTest : public testing::Test {
 protected:
  void open_screen(int w, int h) {
    close_screen();
    config.screen_w = static_cast<uint16_t>(w);
    config.screen_h = static_cast<uint16_t>(h);
    screen_set_layout();
    BackBuffer = create_bitmap_ex(32, w, h);
    LocalCanvas = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    ToolbarStrip = create_bitmap_ex(32, w, TOOLBAR_HEIGHT);
    CursorSprite = create_bitmap_ex(32, 6, 6);
    clear_to_color(BackBuffer, makecol32(1, 2, 3));
    clear_to_color(LocalCanvas, makecol32(255, 255, 255));
    clear_to_color(ToolbarStrip, makecol32(0, 0, 0));
    dirty_list_clear();
  }
  void SetUp() override {
    toolbar_reset();
    roster_reset();
    chat_log_reset();
    switched_away = false;
    open_screen(1024, 768);
  }
  void TearDown() override {
    toolbar_reset();
    close_screen();
  }
  void close_screen() {
    for (BITMAP** b : {&BackBuffer, &LocalCanvas, &ToolbarStrip, &CursorSprite}) {
      if (*b) destroy_bitmap(*b);
      *b = nullptr;
    }
  }
  static void expect_rgb(BITMAP* bmp, int x, int y, int r, int g, int b) {
    int p = getpixel(bmp, x, y);
    EXPECT_EQ(getr32(p), r) << "red at " << x << "," << y;
    EXPECT_EQ(getg32(p), g) << "green at " << x << "," << y;
    EXPECT_EQ(getb32(p), b) << "blue at " << x << "," << y;
  }
  static std::vector<int> xywh(const DirtyRect& r) { return {r.x, r.y, r.w, r.h}; }
  static bool is_rgb(BITMAP* bmp, int x, int y, int r, int g, int b) {
    int p = getpixel(bmp, x, y);
    return getr32(p) == r && getg32(p) == g && getb32(p) == b;
  }
};
