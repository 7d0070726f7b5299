// Shared bitmaps and screen state for the tests of the tool input and the
// colour picker: a 1024 x 768 screen with the picture at (56, 42).
#pragma once
#include <allegro.h>
#include <gtest/gtest.h>

#include "app/client.h"
#include "app/config.h"
#include "paint/canvas.h"
#include "paint/random.h"
#include "ui/colour_picker.h"
#include "ui/dirty_rect.h"
#include "ui/screen.h"
#include "ui/toolbar.h"

class InputTest : public ::testing::Test {
 protected:
  static constexpr int TEST_SCREEN_W = 1024;
  static constexpr int TEST_SCREEN_H = 768;
  static constexpr int OX = (TEST_SCREEN_W - 912) / 2;
  static constexpr int OY = (TEST_SCREEN_H - 684) / 2;

  void SetUp() override {
    config.screen_w = TEST_SCREEN_W;
    config.screen_h = TEST_SCREEN_H;
    screen_set_layout();
    toolbar_reset();
    BackBuffer = create_bitmap_ex(32, TEST_SCREEN_W, TEST_SCREEN_H);
    ServerCanvas = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    LocalCanvas = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    StrokeLayer = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    ToolbarStrip = create_bitmap_ex(32, TEST_SCREEN_W, 42);
    CursorSprite = create_bitmap_ex(32, 6, 6);
    ASSERT_TRUE(BackBuffer && ServerCanvas && LocalCanvas && StrokeLayer && ToolbarStrip &&
                CursorSprite);
    clear_to_color(BackBuffer, makecol32(0, 0, 0));
    clear_to_color(LocalCanvas, makecol32(255, 255, 255));
    blit(LocalCanvas, ServerCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
    colour_picker_reset();
    random_reset();
    seedRandom(1234);
  }

  void TearDown() override {
    BITMAP** all[] = {&BackBuffer, &ServerCanvas, &LocalCanvas, &StrokeLayer, &ToolbarStrip,
                      &CursorSprite, &SamplePicture};
    for (BITMAP** b : all) {
      if (*b) destroy_bitmap(*b);
      *b = nullptr;
    }
  }

  static void set_colour(float r, float g, float b) {
    current_rgb[0] = r;
    current_rgb[1] = g;
    current_rgb[2] = b;
  }

  static int red_at(BITMAP* bmp, int x, int y) { return getr32(getpixel(bmp, x, y)); }
  static int green_at(BITMAP* bmp, int x, int y) { return getg32(getpixel(bmp, x, y)); }
  static int blue_at(BITMAP* bmp, int x, int y) { return getb32(getpixel(bmp, x, y)); }
  static bool pixel_is(BITMAP* bmp, int x, int y, int r, int g, int b) {
    return red_at(bmp, x, y) == r && green_at(bmp, x, y) == g && blue_at(bmp, x, y) == b;
  }
};
