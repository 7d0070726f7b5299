// The tool bar: icon tinting, the selection mark, panel placement and styles,
// and the per-frame tool-bar step driven with plain key and mouse values.
#include <vector>

#include "screen_fixture.h"
#include "test_support.h"

namespace {

constexpr int TAB = KEY_TAB << 8 | '\t';
constexpr int ESC = KEY_ESC << 8 | 27;
constexpr int SLASH = KEY_SLASH << 8 | '/';
constexpr int TILDE = KEY_TILDE << 8 | '`';

// Weight = (mask red + 2 * mask blue) / 765; green counts nothing; at or
// below 0.005 the icon stays; channels truncate and clamp to 0..255.
TEST(IconTint, TintFollowsTheMaskWeight) {
  struct Case {
    int colour[3], icon[3], mask_r, mask_b, want[3];
  } cases[] = {
      {{200, 50, 0}, {100, 150, 200}, 255, 255, {172, 72, 72}},
      {{200, 50, 0}, {100, 150, 200}, 0, 0, {100, 150, 200}},
      {{200, 50, 0}, {100, 150, 200}, 128, 128, {136, 110, 135}},
      {{255, 50, 0}, {250, 10, 0}, 255, 255, {255, 0, 0}},
      {{255, 255, 255}, {10, 10, 10}, 0, 255, {94, 94, 94}},
      {{255, 255, 255}, {10, 10, 10}, 255, 0, {52, 52, 52}},
      {{255, 255, 255}, {10, 10, 10}, 3, 0, {10, 10, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.mask_r << "," << c.mask_b << " icon " << c.icon[0]);
    for (int k = 0; k < 3; ++k) current_rgb[k] = float(c.colour[k]);
    int got[3];
    tint_icon_pixel(c.icon[0], c.icon[1], c.icon[2], c.mask_r, c.mask_b, &got[0], &got[1], &got[2]);
    EXPECT_EQ(std::vector<int>(got, got + 3), std::vector<int>(c.want, c.want + 3));
  }
}

class Toolbar : public ScreenTest {};

TEST_F(Toolbar, IconsFromFilesAreTintedThroughTheirMasksOthersGetLabels) {
  testsupport::TempDir dir;
  BITMAP* icon = testsupport::make_filled(42, 42, 100, 150, 200);
  BITMAP* mask = testsupport::make_filled(42, 42, 0, 0, 0);
  rectfill(mask, 0, 0, 20, 41, makecol32(255, 255, 255));
  ASSERT_EQ(save_bitmap("pen.bmp", icon, nullptr), 0);
  ASSERT_EQ(save_bitmap("penmask.bmp", mask, nullptr), 0);
  // A pencil icon of the wrong size: what lies beyond it is black.
  BITMAP* small = testsupport::make_filled(20, 20, 100, 150, 200);
  ASSERT_EQ(save_bitmap("pencil.bmp", small, nullptr), 0);
  destroy_bitmap(icon);
  destroy_bitmap(mask);
  destroy_bitmap(small);

  // Through a white mask the pen takes +100, -100, +0; through black it stays;
  // the small pencil icon is black beyond its size; generated icons elsewhere.
  current_rgb[0] = 228, current_rgb[1] = 28, current_rgb[2] = 128;
  draw_toolbar_icons();
  EXPECT_EQ(13370969312923681007u, testsupport::bitmap_checksum(ToolbarStrip));
  // Kept after the first load: a new colour re-tints without the files.
  ASSERT_EQ(remove("pen.bmp"), 0);
  current_rgb[0] = 128, current_rgb[1] = 128, current_rgb[2] = 228;
  draw_toolbar_icons();
  expect_rgb(ToolbarStrip, 0, 0, 100, 150, 255);
}

TEST_F(Toolbar, PalettedGreyMasksAreReadThroughTheirPalette) {
  testsupport::TempDir dir;
  PALETTE grey;
  for (int i = 0; i < 256; ++i) grey[i].r = grey[i].g = grey[i].b = static_cast<unsigned char>(i >> 2);
  BITMAP* mask = create_bitmap_ex(8, 42, 42);
  clear_to_color(mask, 0);
  rectfill(mask, 0, 0, 41, 9, 255);  // white band on top
  ASSERT_EQ(save_bitmap("brushmask.bmp", mask, grey), 0);
  destroy_bitmap(mask);
  current_rgb[0] = 228, current_rgb[1] = 128, current_rgb[2] = 128;
  draw_toolbar_icons();
  // The generated brush icon is (64, 128, 172); the white band takes +100 red.
  expect_rgb(ToolbarStrip, 2 * 42 + 3, 3, 164, 128, 172);
  expect_rgb(ToolbarStrip, 2 * 42 + 3, 30, 64, 128, 172);
}

TEST_F(Toolbar, GeneratedLabelMaskTintsOnlyTheLettersOfTheName) {
  testsupport::TempDir dir;
  draw_toolbar_icons();
  const uint64_t black = testsupport::bitmap_checksum(ToolbarStrip);
  current_rgb[0] = 255;
  draw_toolbar_icons();
  long changed = 0;
  for (int y = 0; y < 42; ++y)
    for (int x = 0; x < 42 * 8; ++x)
      if (!is_rgb(ToolbarStrip, x, y, 64, 128, 172) && getr32(getpixel(ToolbarStrip, x, y)) > 200)
        ++changed;
  EXPECT_GT(changed, 8 * 20);
  EXPECT_NE(testsupport::bitmap_checksum(ToolbarStrip), black);
}

TEST_F(Toolbar, SelectionMarkAndStripAtTheBottom) {
  open_screen(640, 480);
  clear_to_color(ToolbarStrip, makecol32(10, 20, 30));
  selected_tool = 2;
  draw_toolbar();  // white outline (84,438)-(124,478), black one (85,439)-(125,479)
  EXPECT_EQ(12544900804854913926u, testsupport::bitmap_checksum(BackBuffer));
  expect_rgb(BackBuffer, 100, 437, 1, 2, 3);  // above the bar: untouched
  ASSERT_EQ(dirty_list.count, 1);
  EXPECT_EQ(xywh(dirty_list.rects[0]), (std::vector<int>{0, 438, 640, 42}));
}

TEST_F(Toolbar, PanelPlacementCentresOverTheSlotAndStaysOnScreen) {
  int px, py;
  panel_placement(3, 100, 60, &px, &py);
  EXPECT_EQ(px, 126 + 21 - 50);
  EXPECT_EQ(py, 768 - 42 - 60);
  panel_placement(0, 416, 256, &px, &py);  // would start left of the screen
  EXPECT_EQ(px, 0);
  open_screen(400, 300);
  panel_placement(7, 200, 100, &px, &py);  // would end right of the screen
  EXPECT_EQ(px, 200);
  EXPECT_EQ(py, 158);
  panel_placement(7, 400, 258, &px, &py);  // the full width
  EXPECT_EQ(px, 0);
  EXPECT_EQ(py, 0);
}

// A panel of the given style: magenta (see-through) with a red square.
BITMAP* make_panel(int w, int h) {
  BITMAP* p = testsupport::make_filled(w, h, 255, 0, 255);
  rectfill(p, 0, 0, 9, 9, makecol32(255, 0, 0));
  return p;
}

TEST_F(Toolbar, OpaquePanelIsCopiedWithItsMagenta) {
  selected_tool = 3;
  ToolTable[3].panel = make_panel(100, 60);
  ToolTable[3].panel_style = 5;  // unknown styles are opaque
  draw_tool_panel();
  expect_rgb(BackBuffer, 97, 666, 255, 0, 0);
  expect_rgb(BackBuffer, 97 + 50, 666 + 30, 255, 0, 255);
  expect_rgb(BackBuffer, 96, 666, 1, 2, 3);
  ASSERT_EQ(dirty_list.count, 1);
  EXPECT_EQ(dirty_list.rects[0].x, 97);
  EXPECT_EQ(dirty_list.rects[0].y, 666);
}

TEST_F(Toolbar, SeeThroughPanelsShowThePictureTintedOrNot) {
  selected_tool = 7;
  ToolTable[7].panel = make_panel(1024, 726);
  blit(LocalCanvas, BackBuffer, 0, 0, ox, oy, CANVAS_WIDTH, CANVAS_HEIGHT);
  putpixel(LocalCanvas, 100, 100, makecol32(30, 60, 90));
  draw_tool_panel();  // style 1: the picture dimmed to blue-grey around the panel
  EXPECT_EQ(839738718761225848u, testsupport::bitmap_checksum(BackBuffer));
  expect_rgb(BackBuffer, 100 + ox, 100 + oy, 27, 35, 45);  // S = 180: (30 + 360) / 14, (60 + 360) / 12, (90 + 360) / 10
  ToolTable[7].panel_style = 2;
  draw_tool_panel();
  EXPECT_EQ(8953827459454301227u, testsupport::bitmap_checksum(BackBuffer));
}

// Records the handler calls of a tool whose panel appears on its first call.
struct HandlerCall {
  BITMAP* panel;
  int edge, key, x, y;
};
std::vector<HandlerCall> calls;
BITMAP* recording_handler(BITMAP* panel, int edge, int key, int x, int y) {
  calls.push_back({panel, edge, key, x, y});
  return panel ? nullptr : make_panel(100, 60);
}
int fake_command(Message*) { return 1; }

class ToolbarStep : public Toolbar {
 protected:
  void SetUp() override {
    Toolbar::SetUp();
    calls.clear();
    clear_to_color(ToolbarStrip, makecol32(10, 20, 30));
    // Whatever the tools' own modules define, these tests drive their own.
    for (int i = 0; i < TOOL_COUNT; ++i) {
      ToolTable[i].panel_handler = nullptr;
      ToolTable[i].build_command = i < 6 ? fake_command : nullptr;
    }
  }
  bool bar_drawn() { return is_rgb(BackBuffer, 300, 767, 10, 20, 30); }
};

TEST_F(ToolbarStep, TabShowsAndHidesTheBarEscHidesItOnly) {
  EXPECT_EQ(toolbar_panel_keys(TAB), 0);
  EXPECT_TRUE(panel_visible);
  EXPECT_TRUE(bar_drawn());
  EXPECT_EQ(toolbar_panel_keys(TAB), 0);
  EXPECT_FALSE(panel_visible);
  expect_rgb(BackBuffer, 300, 720, 255, 255, 255);  // recomposed: the picture again
  expect_rgb(BackBuffer, 300, 767, 0, 0, 0);
  // Esc with the bar hidden is left for the frame loop, which quits.
  EXPECT_EQ(toolbar_panel_keys(ESC), ESC);
  toolbar_panel_keys(TAB);
  EXPECT_EQ(toolbar_panel_keys(ESC), 0);
  EXPECT_FALSE(panel_visible);
  EXPECT_FALSE(bar_drawn());
  // Other keys pass through.
  EXPECT_EQ(toolbar_panel_keys(KEY_A << 8 | 'a'), KEY_A << 8 | 'a');
}

TEST_F(ToolbarStep, SlashAndTildeOpenChatUnlessChatIsOpen) {
  selected_tool = 2;
  EXPECT_EQ(toolbar_panel_keys(SLASH), 0);
  EXPECT_TRUE(panel_visible);
  EXPECT_EQ(selected_tool, 7);
  EXPECT_EQ(drawing_tool, 0);
  // With Chat open the keys go on to the chat input.
  EXPECT_EQ(toolbar_panel_keys(SLASH), SLASH);
  EXPECT_EQ(toolbar_panel_keys(TILDE), TILDE);
  // From another tool's open panel they switch to Chat.
  selected_tool = 1;
  EXPECT_EQ(toolbar_panel_keys(TILDE), 0);
  EXPECT_EQ(selected_tool, 7);
  EXPECT_TRUE(panel_visible);
}

TEST_F(ToolbarStep, PressOnASlotSelectsItAndMovesTheMark) {
  toolbar_panel_keys(TAB);
  EXPECT_EQ(toolbar_panel_step(0, 1, 3 * 42 + 5, 760), 0);
  EXPECT_EQ(selected_tool, 3);
  EXPECT_EQ(drawing_tool, 3);
  EXPECT_TRUE(panel_visible);
  expect_rgb(BackBuffer, 126, 726, 255, 255, 255);
  EXPECT_TRUE(is_rgb(BackBuffer, 0, 726, 10, 20, 30));  // the old mark is gone
  // Paint and Chat keep the drawing tool.
  toolbar_panel_step(0, 2, 6 * 42 + 1, 767);
  EXPECT_EQ(selected_tool, 6);
  EXPECT_EQ(drawing_tool, 3);
  toolbar_panel_step(0, 1, 7 * 42 + 41, 730);
  EXPECT_EQ(selected_tool, 7);
  EXPECT_EQ(drawing_tool, 3);
}

TEST_F(ToolbarStep, PressesRightOfTheSlotsOrOnTheSelectedOneChangeNothing) {
  toolbar_panel_keys(TAB);
  const uint64_t before = testsupport::bitmap_checksum(BackBuffer);
  EXPECT_EQ(toolbar_panel_step(0, 1, 8 * 42, 740), 0);
  EXPECT_EQ(toolbar_panel_step(0, 1, 20, 740), 0);
  EXPECT_EQ(selected_tool, 0);
  EXPECT_TRUE(panel_visible);
  EXPECT_EQ(testsupport::bitmap_checksum(BackBuffer), before);
}

TEST_F(ToolbarStep, PressOnThePictureHidesTheBarAndGoesOn) {
  toolbar_panel_keys(TAB);
  EXPECT_EQ(toolbar_panel_step(0, 1, 500, 300), 1);
  EXPECT_FALSE(panel_visible);
  EXPECT_FALSE(bar_drawn());
  // With the bar hidden presses pass untouched, also on its rows.
  EXPECT_EQ(toolbar_panel_step(0, 1, 10, 760), 1);
  EXPECT_EQ(selected_tool, 0);
}

TEST_F(ToolbarStep, PanelHandlerGetsKeyAlwaysAndPressOnlyInsideItsPanel) {
  ToolTable[1].panel_handler = recording_handler;
  toolbar_panel_keys(TAB);
  toolbar_panel_step(0, 1, 42 + 5, 740);  // select Pencil: no handler call before
  ASSERT_EQ(selected_tool, 1);
  EXPECT_TRUE(calls.empty());
  // First frame with the panel selected: created with no panel, no press.
  EXPECT_EQ(toolbar_panel_step(KEY_B << 8 | 'b', 0, 600, 100), 0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].panel, nullptr);
  EXPECT_EQ(calls[0].key, KEY_B << 8 | 'b');
  BITMAP* panel = ToolTable[1].panel;
  ASSERT_NE(panel, nullptr);
  // Placed at x = 42 + 21 - 50 = 13, y = 768 - 42 - 60 = 666, and drawn.
  expect_rgb(BackBuffer, 13, 666, 255, 0, 0);
  // A press inside goes to the handler, relative to the panel, and is used up.
  EXPECT_EQ(toolbar_panel_step(0, 2, 13 + 40, 666 + 7), 0);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].panel, panel);
  EXPECT_EQ((std::vector<int>{calls[1].edge, calls[1].x, calls[1].y}), (std::vector<int>{2, 40, 7}));
  EXPECT_TRUE(panel_visible);
  // Outside the panel the handler sees no press and no position; the press
  // on the picture closes the bar and goes on.
  EXPECT_EQ(toolbar_panel_step(0, 1, 13 + 100, 666), 1);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ((std::vector<int>{calls[2].edge, calls[2].x, calls[2].y}), (std::vector<int>{0, 0, 0}));
  EXPECT_FALSE(panel_visible);
  // Hidden: no more handler calls.
  toolbar_panel_step(0, 0, 0, 0);
  EXPECT_EQ(calls.size(), 3u);
}

}  // namespace
