// The screen, the busy bar and the tool bar, driven with plain key and mouse values.
#include <algorithm>
#include <string>
#include <vector>

#include "app/busy_indicator.h"
#include "screen_fixture.h"
#include "test_support.h"
#include "ui/stroke_input.h"

namespace {

using testsupport::bitmap_checksum;

// The picture centred in black bands, or its middle cropped; odd margins
// round the origin toward zero.
TEST_F(ScreenTest, PinnedCanvasViewsPerScreenSize) {
  Image* canvas = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  const struct {
    int w, h;
    uint64_t sum;
  } cases[] = {{1024, 768, 8324724363285540898u},
               {640, 480, 16962395109977237478u},
               {915, 687, 2638991143363986668u},
               {911, 683, 6944987987174536224u}};
  for (const auto& c : cases) {
    open_screen(c.w, c.h);
    labels_shown = true;
    draw_canvas_view(canvas);
    EXPECT_FALSE(labels_shown);
    EXPECT_EQ(c.sum, bitmap_checksum(BackBuffer)) << c.w << " x " << c.h;
  }
  testsupport::free_image(canvas);
}

// The dirty rectangles are copied and the list emptied; a full list (refusing
// even an empty one) copies the whole screen; while switched away nothing is
// copied until everything is marked dirty again.
TEST_F(ScreenTest, RefreshCopiesTheDirtyRectanglesTheWholeScreenOrNothing) {
  BITMAP* dest = testsupport::make_filled_bitmap(1024, 768, 9, 9, 9);
  const uint64_t untouched = bitmap_checksum(dest);
  clear_to_color(BackBuffer, makecol32(200, 100, 50));
  EXPECT_TRUE(add_dirty_rect(10, 20, 30, 40));
  EXPECT_TRUE(add_dirty_rect(DirtyRect{500, 600, 5, 5}));
  refresh_screen_to(dest);
  EXPECT_EQ(bitmap_checksum(dest), 3964640347523446871u);
  EXPECT_EQ(dirty_list.count, 0);
  for (int i = 0; i < DIRTY_LIST_CAPACITY; ++i) EXPECT_TRUE(add_dirty_rect(i, 0, 1, 1));
  EXPECT_FALSE(add_dirty_rect(1, 1, 0, 0));
  refresh_screen_to(dest);
  EXPECT_TRUE(testsupport::bitmaps_equal(dest, BackBuffer));
  EXPECT_EQ(dirty_list.count, 0);
  clear_to_color(dest, makecol32(9, 9, 9));
  switched_away = true;
  EXPECT_TRUE(add_dirty_rect(0, 0, 100, 100));
  refresh_screen_to(dest);
  EXPECT_EQ(dirty_list.count, 0);
  EXPECT_EQ(bitmap_checksum(dest), untouched);
  switched_away = false;
  mark_all_dirty();
  refresh_screen_to(dest);
  EXPECT_TRUE(testsupport::bitmaps_equal(dest, BackBuffer));
  destroy_bitmap(dest);
}

// A cross in the colour over its shadow, the shadow in the contrast colour:
// black where the brightest channel is above 120, else white. The pointer is
// hidden for a copy whose rectangle its edges touch.
TEST_F(ScreenTest, PinnedPointerSpritesTheirShadowColourAndOverlap) {
  const struct {
    float rgb[3];
    uint64_t sum;
  } cases[] = {{{200.9f, 30, 40}, 3381525340542763293u}, {{120, 120, 120}, 1725651925520749370u}};
  for (const auto& c : cases) {
    for (int k = 0; k < 3; ++k) board.colour.rgb[k] = c.rgb[k];
    rebuild_cursor();
    EXPECT_EQ(c.sum, bitmap_checksum(CursorSprite)) << c.rgb[0];
  }
  EXPECT_EQ(contrast_colour(10, 10, 121), makecol32(0, 0, 0));
  EXPECT_EQ(contrast_colour(10, 121, 10), makecol32(0, 0, 0));
}

// Runs n frames of the busy bar; '#' for each that drew.
std::string busy_frames(int n) {
  std::string drawn;
  for (int i = 0; i < n; ++i) {
    dirty_list_clear();
    busy_indicator_step();
    drawn += dirty_list.count ? '#' : '.';
  }
  return drawn;
}

// Nothing offline. The counter runs 1..49; the bands move every fifth frame,
// first drawn on the sixth; arriving data redraws at once. Erased once when
// the queue empties: black above the picture, else from the picture.
TEST_F(ScreenTest, BusyBarMovesEveryFifthBusyFrameOrWhenDataArrivesAndIsErasedOnce) {
  Message pending;  // payload-less
  message_init(&pending, MSG_PEN);
  queue_push(&board.command_queue, &pending);
  EXPECT_EQ(busy_frames(20), std::string(20, '.'));
  board.connected = true;
  EXPECT_EQ(busy_frames(6), ".....#");
  EXPECT_EQ(xywh(dirty_list.rects[0]), (std::vector<int>{482, 1, 60, 4}));
  EXPECT_EQ(bitmap_checksum(BackBuffer), 17786350333122086514u);
  EXPECT_EQ(busy_frames(40), "....#....#....#....#....#....#....#....#");
  EXPECT_EQ(bitmap_checksum(BackBuffer), 3655300269410365810u);
  EXPECT_EQ(busy_frames(52), "........#....#....#....#....#....#....#....#....#...");
  EXPECT_EQ(busy_counter, 49);
  board.frame.received_this_frame = true;
  EXPECT_EQ(busy_frames(1), "#");
  EXPECT_EQ(bitmap_checksum(BackBuffer), 11755040053636967986u);
  const struct {
    int w, h;
    uint64_t sum;
  } cases[] = {{1024, 768, 11404660258152073106u},
               {800, 686, 7821495452000257786u},
               {800, 600, 13242589941333146220u}};
  Image* pattern = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  for (const auto& c : cases) {
    open_screen(c.w, c.h);  // the session's pictures afresh: not connected, nothing queued
    board.connected = true;
    queue_push(&board.command_queue, &pending);
    image_copy_all(pattern, &LocalCanvas);
    busy_frames(6);
    queue_pop(&board.command_queue, &pending);
    EXPECT_EQ(busy_frames(3), "#..");
    EXPECT_EQ(bitmap_checksum(BackBuffer), c.sum) << c.h;
  }
  testsupport::free_image(pattern);
}

void save(const char* name, BITMAP* bmp, RGB* palette = nullptr) {
  EXPECT_EQ(save_bitmap(name, bmp, palette), 0) << name;
  destroy_bitmap(bmp);
}

// Pen icon and mask from files, a pencil icon too small (black beyond it),
// generated icons elsewhere; kept once loaded; paletted masks read through it.
// Tint weight: (mask red + 2 * mask blue) / 765, none up to 0.005; clamped.
TEST_F(ScreenTest, ToolbarIconsFromFilesTintedThroughTheirMasksOthersGenerated) {
  testsupport::TempDir dir;
  BITMAP* mask = testsupport::make_filled_bitmap(42, 42, 0, 0, 0);
  rectfill(mask, 0, 0, 20, 41, makecol32(255, 255, 255));
  save("penmask.bmp", mask);
  save("pen.bmp", testsupport::make_filled_bitmap(42, 42, 100, 150, 200));
  save("pencil.bmp", testsupport::make_filled_bitmap(20, 20, 100, 150, 200));
  set_colour(228, 28, 128);
  draw_toolbar_icons();
  EXPECT_EQ(13370969312923681007u, bitmap_checksum(ToolbarStrip));
  ASSERT_EQ(remove("pen.bmp"), 0);
  set_colour(228, 128, 128);
  draw_toolbar_icons();
  expect_rgb(ToolbarStrip, 0, 0, 200, 150, 200);
  PALETTE palette = {};
  palette[7].r = palette[7].g = palette[7].b = 63;  // white
  mask = create_bitmap_ex(8, 42, 42);
  clear_to_color(mask, 0);
  rectfill(mask, 0, 0, 41, 9, 7);  // a white band on top
  save("brushmask.bmp", mask, palette);
  toolbar_destroy_bitmaps();
  draw_toolbar_icons();
  // The generated brush icon is (64, 128, 172); the white band takes +100 red.
  expect_rgb(ToolbarStrip, 2 * 42 + 3, 3, 164, 128, 172);
  expect_rgb(ToolbarStrip, 2 * 42 + 3, 30, 64, 128, 172);
  const struct {
    float colour[3];
    int icon[3], mask_r, mask_b;
    std::vector<int> want;
  } tints[] = {
      {{255, 50, 0}, {250, 10, 0}, 255, 255, {255, 0, 0}},
      {{255, 255, 255}, {10, 10, 10}, 0, 255, {94, 94, 94}},
      {{255, 255, 255}, {10, 10, 10}, 255, 0, {52, 52, 52}},
      {{255, 255, 255}, {10, 10, 10}, 3, 0, {10, 10, 10}},
  };
  for (const auto& c : tints) {
    std::copy(c.colour, c.colour + 3, board.colour.rgb);
    std::vector<int> got(3);
    tint_icon_pixel(c.icon[0], c.icon[1], c.icon[2], c.mask_r, c.mask_b, &got[0], &got[1], &got[2]);
    EXPECT_EQ(got, c.want) << c.mask_r << "," << c.mask_b << " icon " << c.icon[0];
  }
}

// A panel of the given style: magenta (see-through) with a red square.
BITMAP* make_panel(int w, int h) {
  BITMAP* p = create_bitmap_ex(32, w, h);
  clear_to_color(p, bitmap_colour(255, 0, 255));
  rectfill(p, 0, 0, 9, 9, bitmap_colour(255, 0, 0));
  return p;
}

// Style 1 dims the picture behind a see-through panel, style 2 does not; panels
// are moved in at both sides. The strip at the bottom, the selected slot outlined.
TEST_F(ScreenTest, ToolbarSeeThroughPanelsAndTheStripWithItsMark) {
  ToolTable[TOOL_PEN].panel = make_panel(1024, 726);  // the Pen is selected
  ToolTable[TOOL_PEN].panel_style = 1;
  blit_image(&LocalCanvas, BackBuffer, 0, 0, ox, oy, CANVAS_WIDTH, CANVAS_HEIGHT);
  image_row(&LocalCanvas, 100)[100] = pack_pixel(30, 60, 90);
  draw_tool_panel();
  EXPECT_EQ(839738718761225848u, bitmap_checksum(BackBuffer));
  ToolTable[TOOL_PEN].panel_style = 2;
  draw_tool_panel();
  EXPECT_EQ(8953827459454301227u, bitmap_checksum(BackBuffer));
  open_screen(640, 480);
  clear_to_color(ToolbarStrip, makecol32(10, 20, 30));
  selected_tool = 2;
  draw_toolbar();  // white outline (84,438)-(124,478), black one (85,439)-(125,479)
  EXPECT_EQ(12544900804854913926u, bitmap_checksum(BackBuffer));
  EXPECT_EQ(dirty_list.count, 1);
  EXPECT_EQ(xywh(dirty_list.rects[0]), (std::vector<int>{0, 438, 640, 42}));
  open_screen(400, 300);
  int px, py;
  panel_placement(7, 200, 100, &px, &py);
  EXPECT_EQ((std::vector<int>{px, py}), (std::vector<int>{200, 158}));
}

// A frame (the picture, a chat line over it, a user's label, the tool bar with
// a see-through panel and the Paint panel, a stroke's live tail) reaches the
// screen in the same colours whether the library lays out pixels as the engine
// does or otherwise, when every copied pixel is converted; so does the pointer,
// which the library draws itself.
TEST_F(ScreenTest, TheScreenShowsTheSameColoursWhateverTheLibrarysLayout) {
  const int saved[3] = {_rgb_r_shift_32, _rgb_g_shift_32, _rgb_b_shift_32};
  auto shown = [this](int red_shift, int blue_shift) {
    _rgb_r_shift_32 = red_shift, _rgb_b_shift_32 = blue_shift;
    client_state_reset();
    open_screen(1024, 768);
    Image* pattern = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
    image_copy_all(pattern, &LocalCanvas);
    testsupport::free_image(pattern);
    set_colour(200, 30, 40);
    rebuild_cursor();
    add_chat_line("Ann", "a line over the picture");
    compose_screen(BackBuffer, &LocalCanvas, true);
    roster_set_name(&board.roster, 3, "Bob");
    roster_set_colour(&board.roster, 3, 10, 200, 30);
    roster_set_position(&board.roster, 3, 300, 200);
    draw_user_labels();
    draw_toolbar_icons();
    ToolTable[TOOL_PEN].panel = make_panel(200, 100);
    ToolTable[TOOL_PEN].panel_style = 1;
    draw_tool_panel();
    ToolTable[TOOL_PAINT].panel = colour_panel_handler(nullptr, 0, 0, 0, 0);
    selected_tool = TOOL_PAINT;
    draw_toolbar();
    draw_tool_panel();
    selected_tool = TOOL_PEN;
    stroke_step(400, 100, 1, MOUSE_LEFT, false, false);
    for (int i = 1; i < 30; ++i) stroke_step(400 + 7 * i, 100 + (i % 5) * 9, 0, MOUSE_LEFT, false, false);
    BITMAP* dest = testsupport::make_filled_bitmap(1024, 768, 0, 0, 0);
    mark_all_dirty();
    refresh_screen_to(dest);
    std::vector<int> channels;
    for (BITMAP* b : {dest, CursorSprite})
      for (int y = 0; y < b->h; ++y)
        for (int x = 0; x < b->w; ++x) {
          const int p = getpixel(b, x, y);
          channels.insert(channels.end(), {getr32(p), getg32(p), getb32(p)});
        }
    destroy_bitmap(dest);
    toolbar_destroy_bitmaps();
    return channels;
  };
  const std::vector<int> as_engine = shown(PIXEL_RED_SHIFT, PIXEL_BLUE_SHIFT);
  const std::vector<int> otherwise = shown(PIXEL_BLUE_SHIFT, PIXEL_RED_SHIFT);
  // Copies convert just when the layouts differ.
  for (bool same : {true, false}) {
    _rgb_r_shift_32 = same ? PIXEL_RED_SHIFT : PIXEL_BLUE_SHIFT, _rgb_b_shift_32 = same ? PIXEL_BLUE_SHIFT : PIXEL_RED_SHIFT;
    EXPECT_EQ(library_layout_matches(), same);
  }
  _rgb_r_shift_32 = saved[0], _rgb_g_shift_32 = saved[1], _rgb_b_shift_32 = saved[2];
  ASSERT_EQ(as_engine.size(), otherwise.size());
  size_t first_difference = 0;
  while (first_difference < as_engine.size() && as_engine[first_difference] == otherwise[first_difference])
    ++first_difference;
  EXPECT_EQ(as_engine.size(), first_difference) << "pixel " << first_difference / 3;
  // Not a grey picture, where the layouts could not differ.
  std::vector<int> blue_minus_red(as_engine.size() / 3);
  for (size_t k = 0; k < blue_minus_red.size(); ++k) blue_minus_red[k] = as_engine[3 * k + 2] - as_engine[3 * k];
  EXPECT_GT(std::count_if(blue_minus_red.begin(), blue_minus_red.end(), [](int d) { return d > 50; }), 100000);
  EXPECT_GT(std::count_if(blue_minus_red.begin(), blue_minus_red.end(), [](int d) { return d < -50; }), 100000);
}

// Records the handler calls ({had a panel, edge, key, x, y}) of a tool whose
// panel appears on its first call.
std::vector<std::vector<int>> calls;
BITMAP* recording_handler(BITMAP* panel, int edge, int key, int x, int y) {
  calls.push_back({panel != nullptr, edge, key, x, y});
  return panel ? nullptr : make_panel(100, 60);
}

// Tab toggles the bar, Esc only hides it, '/' and '~' open Chat unless it is
// open; other keys pass. A press on another slot selects it (Paint and Chat
// keep the drawing tool); the selected tool's handler gets every key and the
// presses inside its panel; a press on the picture hides the bar and goes on.
TEST_F(ScreenTest, ToolbarKeysAndPressesShowHideSelectAndFeedPanels) {
  clear_to_color(ToolbarStrip, makecol32(10, 20, 30));
  for (ToolSlot& slot : ToolTable) slot.panel_handler = nullptr;  // only this test's panels
  ToolTable[1].panel_handler = recording_handler;
  auto bar_drawn = [] { return getpixel(BackBuffer, 1000, 767) == makecol32(10, 20, 30); };
  const int TAB = KEY_TAB << 8 | '\t', ESC = KEY_ESC << 8 | 27, SLASH = KEY_SLASH << 8 | '/';
  const int TILDE = KEY_TILDE << 8 | '`', A = KEY_A << 8 | 'a', B = KEY_B << 8 | 'b';
  const struct {
    int key, result;
    bool visible;
    int tool;
  } steps[] = {{TAB, 0, true, 0},          {TAB, 0, false, 0},          {ESC, ESC, false, 0},
               {TAB, 0, true, 0},          {ESC, 0, false, 0},          {A, A, false, 0},
               {SLASH, 0, true, TOOL_CHAT}, {SLASH, SLASH, true, TOOL_CHAT},
               {TILDE, TILDE, true, TOOL_CHAT}};
  for (const auto& s : steps) {
    EXPECT_EQ(toolbar_panel_keys(s.key), s.result) << std::hex << s.key;
    EXPECT_EQ(panel_visible, s.visible) << std::hex << s.key;
    EXPECT_EQ(bar_drawn(), s.visible) << std::hex << s.key;
    EXPECT_EQ(selected_tool, s.tool);
  }
  expect_rgb(BackBuffer, 300, 720, 255, 255, 255);  // the picture recomposed under the bar
  selected_tool = 1;
  EXPECT_EQ(toolbar_panel_keys(TILDE), 0);
  EXPECT_EQ(selected_tool, TOOL_CHAT);

  const uint64_t before = bitmap_checksum(BackBuffer);
  EXPECT_EQ(toolbar_panel_step(0, 1, 8 * 42, 740), 0);
  EXPECT_EQ(toolbar_panel_step(0, 1, 7 * 42 + 20, 740), 0);
  EXPECT_EQ(bitmap_checksum(BackBuffer), before);
  toolbar_panel_step(0, 2, 6 * 42 + 1, 767);
  EXPECT_EQ(selected_tool, TOOL_PAINT);
  toolbar_panel_step(0, 1, 7 * 42 + 41, 730);
  EXPECT_EQ(selected_tool, TOOL_CHAT);
  EXPECT_EQ(board.tools.drawing_tool, 0);
  EXPECT_EQ(toolbar_panel_step(0, 1, 42 + 5, 760), 0);  // Pencil: no handler call yet
  EXPECT_EQ(board.tools.drawing_tool, 1);
  expect_rgb(BackBuffer, 42, 726, 255, 255, 255);
  expect_rgb(BackBuffer, 7 * 42, 726, 10, 20, 30);  // the old mark is gone
  // The first frame creates the panel and draws it over the slot, at (13, 666),
  // opaque: its magenta is copied too.
  dirty_list_clear();
  EXPECT_EQ(toolbar_panel_step(B, 0, 600, 100), 0);
  expect_rgb(BackBuffer, 13, 666, 255, 0, 0);
  expect_rgb(BackBuffer, 13 + 50, 666 + 30, 255, 0, 255);
  EXPECT_EQ(xywh(dirty_list.rects[0]), (std::vector<int>{13, 666, 100, 60}));
  // A press inside goes to the handler, relative to the panel, and is used up.
  EXPECT_EQ(toolbar_panel_step(0, 2, 13 + 40, 666 + 7), 0);
  EXPECT_TRUE(panel_visible);
  // Outside the panel the handler sees no press and no position.
  EXPECT_EQ(toolbar_panel_step(B, 1, 13 + 100, 666), 1);
  EXPECT_FALSE(panel_visible);
  EXPECT_FALSE(bar_drawn());
  toolbar_panel_step(B, 0, 0, 0);
  EXPECT_EQ(toolbar_panel_step(0, 1, 10, 760), 1);
  EXPECT_EQ(selected_tool, 1);
  EXPECT_EQ(calls, (std::vector<std::vector<int>>{
                       {0, 0, B, 0, 0}, {1, 2, 0, 40, 7}, {1, 0, B, 0, 0}}));
  // Another slot's press takes the old panel off the picture.
  toolbar_panel_keys(TAB);
  expect_rgb(BackBuffer, 13 + 50, 666 + 30, 255, 0, 255);
  toolbar_panel_step(0, 1, 2 * 42 + 5, 760);
  EXPECT_EQ(selected_tool, 2);
  expect_rgb(BackBuffer, 13 + 50, 666 + 30, 255, 255, 255);
}

}  // namespace
