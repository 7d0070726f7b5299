// Shared bitmaps and screen state for the tests of the tool input and the
// colour picker: a 1024 x 768 screen with the picture at (56, 42).
#pragma once
#include <allegro.h>
#include <gtest/gtest.h>

#include "app/client.h"
#include "paint/canvas.h"
#include "paint/dirty_rect.h"
#include "paint/random.h"
#include "ui/colour_picker.h"
#include "ui/screen.h"
#include "ui/toolbar.h"

class InputTest : public ::testing::Test {
 protected:
  static constexpr int TEST_SCREEN_W = 1024;
  static constexpr int TEST_SCREEN_H = 768;
  static constexpr int OX = (TEST_SCREEN_W - 912) / 2;
  static constexpr int OY = (TEST_SCREEN_H - 684) / 2;

  void SetUp() override {
    client_state_reset();
    ASSERT_TRUE(client_world_open(TEST_SCREEN_W, TEST_SCREEN_H));
    clear_to_color(LocalCanvas, makecol32(255, 255, 255));
    blit(LocalCanvas, ServerCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
    random_reset();
    seedRandom(1234);
  }

  void TearDown() override { client_world_close(); }

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
