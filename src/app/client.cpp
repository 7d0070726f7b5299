// Start-up, the frame loop and shutdown of the client. client_frame is the one
// place where the order of a frame is visible: one call per step.
#include "app/client.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <ctime>

#include "app/busy_indicator.h"
#include "app/config.h"
#include "app/input_wait.h"
#include "app/session.h"
#include "app/setup_screen.h"
#include "base/log.h"
#include "net/command.h"
#include "net/command_run.h"
#include "paint/canvas.h"
#include "paint/dirty_rect.h"
#include "paint/random.h"
#include "ui/bitmap_image.h"
#include "ui/chat_input.h"
#include "ui/chat_log.h"
#include "ui/colour_picker.h"
#include "ui/roster.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"
#include "ui/toolbar.h"

namespace {

const char CONFIG_FILE_NAME[] = "client.cfg";

// Set when a mouse button went down and cleared once all are up again.
bool mouse_latch = false;

// Runs on the graphics library's window thread: only raises the flag.
void close_button_pressed() { quit_requested = true; }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// Text drawn without an explicit background leaves the picture visible.
void set_transparent_text() { text_mode(-1); }
#pragma GCC diagnostic pop

bool start_allegro() {
  if (install_allegro(SYSTEM_AUTODETECT, &errno, atexit) != 0) return false;
  // The X11 keyboard set-up adopts the user's locale for the whole process;
  // our text handling expects the "C" locale it started in.
  install_keyboard();
  setlocale(LC_ALL, "C");
  install_mouse();
  set_color_depth(32);
  return true;
}

// The settings file, or on first run the setup screen in a small window.
bool obtain_settings() {
  if (config_read(CONFIG_FILE_NAME)) return true;
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 320, 240, 0, 0) != 0) return false;
  return setup_screen(CONFIG_FILE_NAME);
}

bool open_configured_mode() {
  int card = config.fullscreen ? GFX_AUTODETECT : GFX_AUTODETECT_WINDOWED;
  return set_gfx_mode(card, config.screen_w, config.screen_h, 0, 0) == 0;
}

// Before the frame loop a failure ends the program through a message box.
int fail_in_text_mode(const char* message) {
  set_gfx_mode(GFX_TEXT, 0, 0, 0, 0);
  allegro_message("%s", message);
  return 1;
}

// Grain drawn for our own strokes differs from run to run; commands carry
// their own seeds, so the clock is good enough here.
void seed_local_stream() {
  useLocalStream();
  seedRandom(static_cast<uint32_t>(time(nullptr)));
}

// The lower layers call up into the session and the tool bar through these.
void register_hooks() {
  session_register_hooks();
  toolbar_register_hooks();
}

// Returns 0 when the frame loop may start, else the exit status.
int start_up() {
  log_open();
  register_hooks();
  set_transparent_text();
  net_available = net_startup() != 0;
  if (!start_allegro()) return 1;
  if (!obtain_settings()) return 1;
  if (!open_configured_mode()) {
    allegro_message("Error initiating graphics. Try deleting client.cfg.");
    return 1;
  }
  set_close_button_callback(close_button_pressed);
  // Drawn before the local stream is seeded from the clock: the same in every run.
  if (!make_sample_picture(&SamplePicture) || !client_world_open(config.screen_w, config.screen_h))
    return fail_in_text_mode("Error creating image buffers.");
  install_display_switch();
  seed_local_stream();
  rebuild_cursor();
  draw_toolbar_icons();
  if (!queue_init(&command_queue)) return fail_in_text_mode("Error initiating command queue.");
  if (net_available) connect_and_login();
  draw_canvas_view(&LocalCanvas);
  mouse_latch = false;
  busy_counter = 0;
  return 0;
}

bool is_escape(int key) { return key != 0 && (key >> 8) == KEY_ESC; }

// The canvas the screen is composed from: StrokeLayer while a stroke is drawn.
const Image* shown_canvas() { return stroke_in_progress() ? &StrokeLayer : &LocalCanvas; }

// Recomposes when an overlay line appeared or expired; the tool bar and the
// panel, or the live tail of a stroke, go back over the new picture.
void compose_step() {
  if (!compose_screen(BackBuffer, shown_canvas(), false)) return;
  if (panel_visible) {
    draw_toolbar();
    draw_tool_panel();
  } else if (StrokePoints.count > 1) {
    stroke_redraw_tail();
  }
}

// Labels while Alt is held with the panel hidden; the picture is recomposed
// once Alt is released. With the panel shown, draw_toolbar draws them.
void user_labels_step(bool alt) {
  if (panel_visible) return;
  if (alt) {
    if (!labels_shown) {
      draw_user_labels();
      labels_shown = true;
    }
  } else if (labels_shown) {
    compose_screen(BackBuffer, shown_canvas(), true);
    labels_shown = false;
  }
}

// A frame with nothing to do sleeps until input or server bytes arrive, or
// this long at most: an overlay line (whole seconds) expires that much late.
constexpr int IDLE_WAIT_MS = 50;

// Nothing received, sent, waiting for its acknowledgement or drawn this frame.
bool nothing_in_flight() {
  if (received_this_frame || dirty_list.count != 0 || queue_count(&command_queue) != 0) return false;
  if (!(net_available && connected)) return true;
  return connection_unsent(&server_connection) == 0 && connection_received(&server_connection) == 0;
}

bool same_pointer_and_modifiers(const FrameInput& a, const FrameInput& b) {
  return a.buttons == b.buttons && a.mouse_x == b.mouse_x && a.mouse_y == b.mouse_y && a.ctrl == b.ctrl &&
         a.shift == b.shift && a.alt == b.alt;
}

// Reads at most one key; the rest wait in the key buffer for later frames.
FrameInput read_devices() {
  FrameInput in = {};
  in.key = keypressed() ? readkey() : 0;
  poll_mouse();
  poll_keyboard();
  in.buttons = mouse_b;
  in.mouse_x = mouse_x;
  in.mouse_y = mouse_y;
  in.ctrl = key[KEY_LCONTROL] || key[KEY_RCONTROL];
  in.shift = key[KEY_LSHIFT] || key[KEY_RSHIFT];
  in.alt = key[KEY_ALT] != 0;
  return in;
}

void run_frames() {
  FrameInput last = {};
  input_wait_begin();
  while (!quit_requested) {
    input_pump();
    FrameInput in = read_devices();
    bool changed = keypressed() || !same_pointer_and_modifiers(in, last);
    last = in;
    int outcome = client_frame(in);
    if (outcome == 0) break;
    if (outcome == FRAME_IDLE && !changed)
      input_wait(net_available && connected ? server_connection.socket_handle : -1, IDLE_WAIT_MS);
    else
      rest(0);
  }
  input_wait_end();
}

// Nothing is sent on quitting: the connection simply ends with the socket.
void close_network() {
  if (!net_available) return;
  if (connected) connection_close(&server_connection);
  net_shutdown();
}

void shut_down() {
  // The pointer must not be drawn from a sprite that is gone.
  show_mouse(nullptr);
  set_mouse_sprite(nullptr);
  toolbar_destroy_bitmaps();
  colour_panel_forget();
  client_world_close();
  allegro_exit();
  close_network();
  queue_free(&command_queue);
  log_close();
}

}  // namespace

int client_frame(const FrameInput& in) {
  received_this_frame = false;
  int key = toolbar_panel_keys(in.key);
  if (is_escape(key)) return 0;
  int button_edge = button_latch_update(&mouse_latch, in.buttons);
  button_edge = toolbar_panel_step(key, button_edge, in.mouse_x, in.mouse_y);
  if (net_available && connected) network_step();
  stroke_step(in.mouse_x - ox, in.mouse_y - oy, button_edge, in.buttons, in.ctrl, in.shift);
  busy_indicator_step();
  compose_step();
  user_labels_step(in.alt);
  bool idle = in.key == 0 && nothing_in_flight();
  refresh_screen();
  return idle ? FRAME_IDLE : 1;
}

namespace {

BITMAP* create_shared_bitmap(int w, int h) { return create_bitmap_ex(32, w, h); }

void destroy_shared_bitmap(BITMAP** bmp) {
  if (*bmp) destroy_bitmap(*bmp);
  *bmp = nullptr;
}

}  // namespace

int client_world_open(int w, int h) {
  BackBuffer = create_shared_bitmap(w, h);
  ToolbarStrip = create_shared_bitmap(w, TOOLBAR_HEIGHT);
  CursorSprite = create_shared_bitmap(6, 6);
  const bool canvases = image_create(&ServerCanvas, CANVAS_WIDTH, CANVAS_HEIGHT) &&
                        image_create(&LocalCanvas, CANVAS_WIDTH, CANVAS_HEIGHT) &&
                        image_create(&StrokeLayer, CANVAS_WIDTH, CANVAS_HEIGHT);
  if (!(canvases && BackBuffer && ToolbarStrip && CursorSprite)) {
    client_world_close();
    return 0;
  }
  screen_set_layout(w, h);
  resetCanvas(&ServerCanvas);
  image_copy_all(&ServerCanvas, &LocalCanvas);
  image_copy_all(&ServerCanvas, &StrokeLayer);
  clear_to_color(BackBuffer, bitmap_colour(0, 0, 0));
  return 1;
}

void client_world_close() {
  image_destroy(&LocalCanvas);
  image_destroy(&ServerCanvas);
  destroy_shared_bitmap(&BackBuffer);
  image_destroy(&StrokeLayer);
  destroy_shared_bitmap(&ToolbarStrip);
  destroy_shared_bitmap(&CursorSprite);
  // Made first and freed last: nothing else owns it.
  image_destroy(&SamplePicture);
}

void client_state_reset() {
  log_reset();
  dirty_list_clear();
  chat_log_reset();
  chat_log_set_clock(nullptr);
  roster_reset();
  random_reset();
  session_reset();
  net_available = false;
  chat_input_reset();
  stroke_input_reset();
  toolbar_reset();
  colour_picker_reset();
  tool_settings_reset();
  command_run_stop();
  point_list_release();
  switched_away = false;
  quit_requested = false;
  busy_counter = 0;
  mouse_latch = false;
  register_hooks();
}

int button_latch_update(bool* latch, int buttons) {
  if ((buttons & 3) == 0) {
    *latch = false;
    return 0;
  }
  if (*latch) return 0;
  *latch = true;
  return (buttons & 2) ? 2 : 1;
}

int client_main() {
  int status = start_up();
  if (status != 0) return status;
  run_frames();
  shut_down();
  return 0;
}
