#include "web/page_client.h"

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "net/command.h"
#include "net/command_queue.h"
#include "net/layout.h"
#include "net/wire_limits.h"
#include "net/drawing_tools.h"
#include "paint/canvas.h"
#include "paint/pixel.h"
#include "paint/random.h"
#include "session/board_session.h"
#include "session/chat_commands.h"
#include "session/chat_log.h"
#include "session/painter.h"

namespace {

BoardSession board = {};
Image view = {};          // what the page shows
Image colour_panel = {};
Image paper = {};         // the empty picture
ImageArea tail_rect = {};
ImageArea changed = {};
int dirty_out[4];
std::vector<uint8_t> received;
std::vector<uint8_t> rgba;
std::vector<uint8_t> decoded_rgba;  // a checkpoint's picture as the browser decoded it
double received_since_login = 0;  // bytes, for the page's progress
std::string description;
bool rebuilt_unshown = false;     // LocalCanvas was rebuilt since view last showed it
bool checkpoint_refused = false;  // one came damaged: this page joins with the history

// What page_frame reports.
constexpr int FRAME_PICTURE = 1, FRAME_ROSTER = 2, FRAME_LINES = 4, FRAME_ENDED = 8, FRAME_MORE = 16;
// What page_link_state says.
enum PageLink { LINK_STATE_JOINED = 0, LINK_STATE_JOINING = 1, LINK_STATE_AWAY = 2, LINK_STATE_GONE = 3 };
// The colour panel's parts: the square, then the hue strip.
constexpr int COLOUR_SQUARE = 256, COLOUR_HUE_WIDTH = 32;
void mark(ImageArea r) {
  if (r.w <= 0 || r.h <= 0) return;
  if (changed.w <= 0 || changed.h <= 0) {
    changed = r;
    return;
  }
  const int x0 = std::min<int>(changed.x, r.x), y0 = std::min<int>(changed.y, r.y);
  const int x1 = std::max<int>(changed.x + changed.w, r.x + r.w), y1 = std::max<int>(changed.y + changed.h, r.y + r.h);
  changed = ImageArea{static_cast<int16_t>(x0), static_cast<int16_t>(y0), static_cast<int16_t>(x1 - x0),
                      static_cast<int16_t>(y1 - y0)};
}

void show(const Image* picture) {
  image_copy_all(picture, &view);
  mark(ImageArea{0, 0, static_cast<int16_t>(view.w), static_cast<int16_t>(view.h)});
}

// The unsettled end of the stroke over the shown picture, as the desktop
// draws it over its screen: the previous tail restored, the new one drawn.
void redraw_tail() {
  if (board.stroke.points.count < 2) return;
  image_copy(&board.StrokeLayer, &view, tail_rect.x, tail_rect.y, tail_rect.x, tail_rect.y, tail_rect.w, tail_rect.h);
  mark(tail_rect);
  painter_tail(&board, &view, &tail_rect);
  mark(tail_rect);
}

void start_preview() { tail_rect = {}; }

void show_local() { show(&board.LocalCanvas); }

void finish_stroke(bool) { show_local(); }

const StrokeView PAGE_VIEW = {start_preview, redraw_tail, show_local, finish_stroke, nullptr};

// LocalCanvas was rebuilt: a stroke in progress goes on over it.
void show_rebuilt() {
  if (!stroke_in_progress(&board.stroke)) return show_local();
  show(&board.StrokeLayer);
  redraw_tail();
}

double page_clock() { return emscripten_get_now(); }

const uint8_t* to_rgba(const Image* from, int x, int y, int w, int h) {
  if (w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > from->w || y + h > from->h) return nullptr;
  rgba.resize(static_cast<size_t>(w) * h * 4);
  uint8_t* out = rgba.data();
  for (int row = 0; row < h; ++row) {
    const uint32_t* p = image_row(from, y + row) + x;
    for (int k = 0; k < w; ++k) {
      *out++ = static_cast<uint8_t>(p[k] >> PIXEL_RED_SHIFT);
      *out++ = static_cast<uint8_t>(p[k] >> PIXEL_GREEN_SHIFT);
      *out++ = static_cast<uint8_t>(p[k] >> PIXEL_BLUE_SHIFT);
      *out++ = 255;
    }
  }
  return rgba.data();
}

// Each renderer draws once at load, on a scrap: the browser compiles a
// function of the module when it is first called, and a board arriving
// should not wait for that in the middle of its first slices. Small and
// large sizes on a long zigzag reach the wide ways' functions as well.
void warm_up_renderers() {
  Image scrap = {};
  if (!image_create(&scrap, CANVAS_WIDTH, CANVAS_HEIGHT)) return;
  int16_t xs[40], ys[40];
  for (int k = 0; k < 40; ++k) {
    xs[k] = static_cast<int16_t>(40 + 20 * k);
    ys[k] = static_cast<int16_t>(k % 2 ? 600 : 80);
  }
  for (const DrawingTool& tool : DRAWING_TOOLS)
    for (const float size : {2.0f, 12.0f}) {
      Message m;
      if (!encode_command(&m, tool.layout, 0, 90, 60, 30, size, 300, xs, ys, 40)) continue;
      apply_command(&scrap, &m);
      message_free(&m);
    }
  image_destroy(&scrap);
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int page_open() {
  board.now = time(nullptr);
  // The paper is woven once: every login starts the picture anew.
  if (!image_create(&paper, CANVAS_WIDTH, CANVAS_HEIGHT)) return 0;
  paintPaper(&paper);
  board.reset_canvas = [](Image* canvas) { image_copy_all(&paper, canvas); };
  if (!board_session_open(&board)) return 0;
  // Every login after the first resumes the session; strokes drawn offline wait for it.
  board.take_resume = true;
  if (!image_create(&view, CANVAS_WIDTH, CANVAS_HEIGHT) ||
      !image_create(&colour_panel, COLOUR_PANEL_W, COLOUR_PANEL_H))
    return 0;
  // The local stream seeds our commands: a different start in every page.
  useLocalStream();
  seedRandom(static_cast<uint32_t>(time(nullptr)));
  show_local();
  return 1;
}

EMSCRIPTEN_KEEPALIVE void page_warm_up() {
  warm_up_renderers();
  // Drawing took numbers from the stream: ours start afresh.
  useLocalStream();
  seedRandom(static_cast<uint32_t>(time(nullptr)));
}

EMSCRIPTEN_KEEPALIVE int page_login(const char* name, const char* host, int port) {
  received_since_login = 0;
  // The page's pictures start as the paper; after a damaged checkpoint the
  // history is asked for instead.
  board.take_checkpoint = !checkpoint_refused;
  // The browser decodes a checkpoint's PNG off the main thread (page_checkpoint_png).
  board.checkpoint_by_caller = true;
  board.now = time(nullptr);
  return board_session_login(&board, name, host, static_cast<uint16_t>(port));
}

EMSCRIPTEN_KEEPALIVE void page_link_closed() {
  if (!board.connected) return;
  board.now = time(nullptr);
  board_session_disconnect(&board, LINK_LOST);
  show_local();
}

EMSCRIPTEN_KEEPALIVE uint8_t* page_receive_buffer(int length) {
  received.resize(length > 0 ? static_cast<size_t>(length) : 1);
  return received.data();
}

EMSCRIPTEN_KEEPALIVE int page_received(int length) {
  if (length < 0 || static_cast<size_t>(length) > received.size()) return 0;
  if (!board_session_received(&board, received.data(), static_cast<size_t>(length))) return 0;
  received_since_login += length;
  return 1;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* page_unsent() {
  size_t length = 0;
  return board_session_unsent(&board, &length);
}

EMSCRIPTEN_KEEPALIVE int page_unsent_length() {
  size_t length = 0;
  board_session_unsent(&board, &length);
  return static_cast<int>(length);
}

EMSCRIPTEN_KEEPALIVE void page_sent(int count) { board_session_sent(&board, static_cast<size_t>(count)); }

EMSCRIPTEN_KEEPALIVE int page_frame(double milliseconds) {
  board_frame_start(&board, time(nullptr));
  board_session_step(&board, page_clock, page_clock() + milliseconds);
  const FrameReport& f = board.frame;
  // Shown when the page next paints: a board arriving is painted a few times a second, not every slice.
  if (f.received_this_frame) rebuilt_unshown = true;
  if (f.disconnected == LINK_BAD_CHECKPOINT) checkpoint_refused = true;
  return (f.received_this_frame ? FRAME_PICTURE : 0) | (f.roster_changed ? FRAME_ROSTER : 0) |
         (f.lines_added > 0 ? FRAME_LINES : 0) | (f.disconnected ? FRAME_ENDED : 0) |
         (byte_buffer_used(&board.incoming) != 0 && !board.checkpoint_waiting ? FRAME_MORE : 0);
}

EMSCRIPTEN_KEEPALIVE int page_pointer(int x, int y, int edge, int buttons, int ctrl, int shift) {
  // Offline a stroke waits for the link, unless the link is not to come back.
  if (edge == MOUSE_LEFT && !board.connected && !board_session_may_rejoin(&board)) return 0;
  // A zoomed-out view reaches further than any screen the wire allows for.
  x = std::clamp(x, POINT_X_MIN, POINT_X_MAX);
  y = std::clamp(y, POINT_Y_MIN, POINT_Y_MAX);
  painter_pointer(&board, &PAGE_VIEW, x, y, edge, buttons, ctrl != 0, shift != 0);
  return 1;
}

EMSCRIPTEN_KEEPALIVE void page_stroke_cancel() {
  if (!stroke_in_progress(&board.stroke)) return;
  stroke_abandon(&board.stroke);
  show_local();
}

EMSCRIPTEN_KEEPALIVE int page_joined() {
  if (!board.connected || board.own_user_id == 0) return 0;
  // The server acknowledges the login after the board it sends.
  const CommandQueue* q = &board.command_queue;
  return queue_count(q) == 0 || queue_at(const_cast<CommandQueue*>(q), 0)->type != MSG_LOGIN;
}

// Bytes of the board handled since the login, a checkpoint counted as the
// history it stands for.
EMSCRIPTEN_KEEPALIVE double page_handled_bytes() {
  return received_since_login - static_cast<double>(byte_buffer_used(&board.incoming)) +
         static_cast<double>(board.checkpoint_shift);
}

// A whole checkpoint's PNG for the browser to decode, and its length; null
// and 0 while none waits.
EMSCRIPTEN_KEEPALIVE const uint8_t* page_checkpoint_png() {
  size_t length = 0;
  return board_session_checkpoint_png(&board, &length);
}

EMSCRIPTEN_KEEPALIVE int page_checkpoint_length() {
  size_t length = 0;
  board_session_checkpoint_png(&board, &length);
  return static_cast<int>(length);
}

// Where the browser puts the decoded picture: red, green, blue, alpha.
EMSCRIPTEN_KEEPALIVE uint8_t* page_checkpoint_rgba() {
  decoded_rgba.resize(static_cast<size_t>(CANVAS_WIDTH) * CANVAS_HEIGHT * 4);
  return decoded_rgba.data();
}

// The browser's picture (decoded 1) is taken when its digest is the
// checkpoint's; without one (decoded 0) the module decodes the PNG itself.
// 1 when the picture was taken; 0 ends the link as for a damaged checkpoint.
EMSCRIPTEN_KEEPALIVE int page_checkpoint_decoded(int decoded) {
  Image picture = {};
  bool made = decoded && decoded_rgba.size() == static_cast<size_t>(CANVAS_WIDTH) * CANVAS_HEIGHT * 4 &&
              image_create(&picture, CANVAS_WIDTH, CANVAS_HEIGHT);
  for (int y = 0; made && y < CANVAS_HEIGHT; ++y) {
    const uint8_t* from = decoded_rgba.data() + static_cast<size_t>(y) * CANVAS_WIDTH * 4;
    uint32_t* row = image_row(&picture, y);
    for (int x = 0; x < CANVAS_WIDTH; ++x) row[x] = pack_pixel(from[4 * x], from[4 * x + 1], from[4 * x + 2]);
  }
  std::vector<uint8_t>().swap(decoded_rgba);
  board_frame_start(&board, time(nullptr));
  const int taken = board_session_checkpoint_picture(&board, made ? &picture : nullptr);
  image_destroy(&picture);
  if (!taken) checkpoint_refused = true;
  rebuilt_unshown = true;
  return taken;
}

// What arrived stands for this many bytes more of the board (a checkpoint).
EMSCRIPTEN_KEEPALIVE double page_board_shift() { return static_cast<double>(board.checkpoint_shift); }

EMSCRIPTEN_KEEPALIVE const char* page_describe() {
  if (!description.empty()) return description.c_str();
  auto number = [](const char* key, int value) { return "\"" + std::string(key) + "\":" + std::to_string(value); };
  std::string tools;
  for (int i = 0; i < DRAWING_TYPE_COUNT; ++i) tools += std::string(i ? "," : "") + "\"" + DRAWING_TOOLS[i].name + "\"";
  char colours[160];
  snprintf(colours, sizeof colours, "{\"%d\":\"#ff0\",\"%d\":\"#0ff\",\"%d\":\"#fff\",\"%d\":\"#c0c0c0\"}", CC_SYSTEM,
           CC_NAME, CC_PLAIN, CC_TEXT);
  description = "{" + number("boardWidth", CANVAS_WIDTH) + "," + number("boardHeight", CANVAS_HEIGHT) + "," +
                number("sliderWidth", SLIDER_WIDTH) + "," + number("panelWidth", COLOUR_PANEL_W) + "," +
                number("panelHeight", COLOUR_PANEL_H) + "," + number("squareSize", COLOUR_SQUARE) + "," +
                number("hueWidth", COLOUR_HUE_WIDTH) + "," + number("nameMax", MAX_NAME_CHARS) + "," +
                number("chatMax", MAX_CHAT_CHARS) + "," + number("pointsMax", MAX_POINTS) + "," +
                number("framePicture", FRAME_PICTURE) + "," + number("frameRoster", FRAME_ROSTER) + "," +
                number("frameLines", FRAME_LINES) + "," + number("frameEnded", FRAME_ENDED) + "," +
                number("frameMore", FRAME_MORE) + "," +
                number("linkJoined", LINK_STATE_JOINED) + "," + number("linkJoining", LINK_STATE_JOINING) + "," +
                number("linkAway", LINK_STATE_AWAY) + "," + number("linkGone", LINK_STATE_GONE) + ",\"tools\":[" + tools + "],\"chatColours\":" + colours + "}";
  return description.c_str();
}

EMSCRIPTEN_KEEPALIVE void page_set_tool(int tool) { tool_settings_select(&board.tools, tool); }

EMSCRIPTEN_KEEPALIVE int page_tool() { return board.tools.drawing_tool; }

EMSCRIPTEN_KEEPALIVE int page_has_slider(int tool, int slider) { return tool_slider(tool, slider) != nullptr; }

EMSCRIPTEN_KEEPALIVE float page_slider_value(int tool, int slider) {
  const float* value = tool_slider_value(&board.tools, tool, slider);
  return value ? *value : 0;
}

EMSCRIPTEN_KEEPALIVE int page_slider_column(int tool, int slider) {
  const float* value = tool_slider_value(&board.tools, tool, slider);
  return value ? slider_column(*tool_slider(tool, slider), *value) : 0;
}

EMSCRIPTEN_KEEPALIVE void page_slider_press(int tool, int slider, int column) {
  float* value = tool_slider_value(&board.tools, tool, slider);
  if (value && column >= 0 && column < SLIDER_WIDTH) *value = slider_value(*tool_slider(tool, slider), column);
}

EMSCRIPTEN_KEEPALIVE int page_colour_press(int edge, int x, int y) { return colour_panel_press(&board.colour, edge, x, y); }

EMSCRIPTEN_KEEPALIVE float page_colour(int index) {
  if (index >= 0 && index < 3) return board.colour.rgb[index];
  if (index >= 3 && index < 6) return board.colour.hsv[index - 3];
  return 0;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* page_colour_panel() {
  colour_panel_fill(&board.colour, &colour_panel);
  return to_rgba(&colour_panel, 0, 0, COLOUR_PANEL_W, COLOUR_PANEL_H);
}

EMSCRIPTEN_KEEPALIVE void page_chat(const char* line) { chat_submit(&board, line); }

EMSCRIPTEN_KEEPALIVE unsigned page_chat_added() { return board.chat_log.added; }

EMSCRIPTEN_KEEPALIVE const char* page_chat_line(int n) {
  const ChatLog& log = board.chat_log;
  int pos = log.head;
  for (int k = 0; k <= n; ++k) {
    if (pos == log.oldest) return nullptr;
    pos = pos == 0 ? CHAT_LOG_SLOTS - 1 : pos - 1;
  }
  return log.lines[pos].text;
}

EMSCRIPTEN_KEEPALIVE int page_roster_used() { return board.roster.used; }

EMSCRIPTEN_KEEPALIVE const char* page_roster_name(int id) { return roster_name(&board.roster, id); }

EMSCRIPTEN_KEEPALIVE int page_roster_x(int id) { return roster_exists(&board.roster, id) ? board.roster.users[id].x : 0; }

EMSCRIPTEN_KEEPALIVE int page_roster_y(int id) { return roster_exists(&board.roster, id) ? board.roster.users[id].y : 0; }

EMSCRIPTEN_KEEPALIVE int page_roster_colour(int id) {
  if (!roster_exists(&board.roster, id)) return 0;
  const UserRecord& u = board.roster.users[id];
  auto channel = [](float v) { return v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v)); };
  return channel(u.red) << 16 | channel(u.green) << 8 | channel(u.blue);
}

EMSCRIPTEN_KEEPALIVE int page_own_id() { return board.own_user_id; }

EMSCRIPTEN_KEEPALIVE int page_pending(int strokes_only) {
  int strokes = 0;
  const int all = board_session_pending(&board, &strokes);
  return strokes_only ? strokes : all;
}

EMSCRIPTEN_KEEPALIVE int page_link_state() {
  if (!board.connected) return board_session_may_rejoin(&board) ? LINK_STATE_AWAY : LINK_STATE_GONE;
  return page_joined() ? LINK_STATE_JOINED : LINK_STATE_JOINING;
}

EMSCRIPTEN_KEEPALIVE int page_connected() { return board.connected; }

EMSCRIPTEN_KEEPALIVE const int* page_take_dirty() {
  if (rebuilt_unshown) {
    rebuilt_unshown = false;
    show_rebuilt();
  }
  ImageArea r = changed;
  const int x0 = std::max<int>(r.x, 0), y0 = std::max<int>(r.y, 0);
  const int x1 = std::min<int>(r.x + r.w, view.w), y1 = std::min<int>(r.y + r.h, view.h);
  dirty_out[0] = x0;
  dirty_out[1] = y0;
  dirty_out[2] = x1 > x0 && y1 > y0 ? x1 - x0 : 0;
  dirty_out[3] = x1 > x0 && y1 > y0 ? y1 - y0 : 0;
  changed = {};
  return dirty_out;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* page_view_rgba(int x, int y, int w, int h) { return to_rgba(&view, x, y, w, h); }
}
