// Start-up, the frame loop and shutdown of the client. client_frame is the one
// place where the order of a frame is visible: one call per step.
#include "app/client.h"

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <thread>

#include <sys/prctl.h>

#include "app/busy_indicator.h"
#include "app/config.h"
#include "app/input_events.h"
#include "app/input_wait.h"
#include "app/quit_signal.h"
#include "app/server_link.h"
#include "app/setup_screen.h"
#include "base/log.h"
#include "net/command.h"
#include "net/command_run.h"
#include "paint/canvas.h"
#include "ui/dirty_list.h"
#include "paint/random.h"
#include "session/board_session.h"
#include "ui/bitmap_image.h"
#include "ui/chat_input.h"
#include "ui/board.h"
#include "ui/chat_view.h"
#include "ui/colour_picker.h"
#include "ui/user_labels.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"
#include "ui/toolbar.h"

namespace {

const char CONFIG_FILE_NAME[] = "client.cfg";

// Set when a mouse button went down and cleared once all are up again.
bool mouse_latch = false;

// Runs on the graphics library's window thread: only raises the flag.
void close_button_pressed() {
  quit_requested = true;
  input_wake();
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// Text drawn without an explicit background leaves the picture visible.
void set_transparent_text() { text_mode(-1); }
#pragma GCC diagnostic pop

// The library's input thread sleeps 1 ms at a time to handle input every
// 10 ms. Its threads inherit the timer slack of the thread that starts them:
// with this one the kernel wakes it about once per 10 ms instead of ten
// times, and input is handled as often as before at half the idle cost.
constexpr unsigned long LIBRARY_TIMER_SLACK_NS = 9000000;

// The library with its keyboard and mouse, its threads started with that
// slack; ours keeps its own.
bool start_library_threads() {
  const int own_slack = prctl(PR_GET_TIMERSLACK);
  prctl(PR_SET_TIMERSLACK, LIBRARY_TIMER_SLACK_NS);
  const bool started = install_allegro(SYSTEM_AUTODETECT, &errno, atexit) == 0;
  if (started) {
    install_keyboard();
    install_mouse();
  }
  if (own_slack > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(own_slack));
  return started;
}

bool start_allegro() {
  if (!start_library_threads()) return false;
  quit_signals_install();
  // Without the pipe an idle frame still wakes when its wait times out.
  input_wait_open();
  // The X11 keyboard set-up adopts the user's locale for the whole process;
  // our text handling expects the "C" locale it started in.
  setlocale(LC_ALL, "C");
  // Before any mode is set: see wait_for_absolute_pointer.
  enable_hardware_cursor();
  set_color_depth(32);
  return true;
}

// The settings file, or on first run the setup screen in a small window.
bool obtain_settings() {
  if (config_read(CONFIG_FILE_NAME)) return true;
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 320, 240, 0, 0) != 0) return false;
  return setup_screen(CONFIG_FILE_NAME);
}

std::chrono::steady_clock::time_point mode_set_at;

bool open_configured_mode() {
  int card = config.fullscreen ? GFX_AUTODETECT : GFX_AUTODETECT_WINDOWED;
  mode_set_at = std::chrono::steady_clock::now();
  return set_gfx_mode(card, config.screen_w, config.screen_h, 0, 0) == 0;
}

// Setting a mode puts the mouse at the screen's centre. The library's X11
// mouse driver then takes pointer moves as relative ones, from that assumed
// centre, until its input thread has run some 27 times (10 ms apart) -
// unless the system draws the pointer (enable_hardware_cursor before the
// mode is set; X servers with the RENDER extension grant it), which ends
// that at once. Without it, the first frame waits that while out, so that
// every frame sees the pointer where the painter put it.
constexpr std::chrono::milliseconds RELATIVE_POINTER_TIME(400);

void wait_for_absolute_pointer() {
  if (!(gfx_capabilities & GFX_HW_CURSOR)) std::this_thread::sleep_until(mode_set_at + RELATIVE_POINTER_TIME);
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

// The colour picker calls up into the tool bar through this.
void register_hooks() { toolbar_register_hooks(); }

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
  if (net_available) connect_and_login();
  draw_canvas_view(&LocalCanvas);
  mouse_latch = false;
  busy_counter = 0;
  wait_for_absolute_pointer();
  input_events_start();
  return 0;
}

double steady_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

bool is_escape(int key) { return key != 0 && (key >> 8) == KEY_ESC; }

// The canvas the screen is composed from: StrokeLayer while a stroke is drawn.
const Image* shown_canvas() { return stroke_in_progress(&board.stroke) ? &StrokeLayer : &LocalCanvas; }

// Recomposes when an overlay line appeared or expired; the tool bar and the
// panel, or the live tail of a stroke, go back over the new picture.
void compose_step() {
  if (!compose_screen(BackBuffer, shown_canvas(), false)) return;
  if (panel_visible) {
    draw_toolbar();
    draw_tool_panel();
  } else if (board.stroke.points.count > 1) {
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
// While our commands wait for the server, at most this long: the busy bar
// moves a pixel every 5 frames.
constexpr int AWAITING_WAIT_MS = 10;

// A key read, bytes received or anything drawn may leave more for the next
// frame at once; commands still to be sent or acknowledged only need the socket.
int frame_outcome(int key) {
  if (key != 0 || board.frame.received_this_frame || dirty_list.count != 0) return 1;
  if (!board.connected) return FRAME_IDLE;
  if (byte_buffer_used(&board.incoming) != 0) return 1;
  if (byte_buffer_used(&board.outgoing) != 0 || queue_count(&board.command_queue) != 0) return FRAME_AWAITING;
  return FRAME_IDLE;
}

void run_frames() {
  while (!quit_requested) {
    FrameInput in = input_events_take();
    in.seconds = steady_seconds();
    int outcome = client_frame(in);
    if (outcome == 0) break;
    if (outcome == 1 || input_events_waiting()) {
      rest(0);
      continue;
    }
    bool online = board.connected;
    input_wait(online ? server_connection.socket_handle : -1, online && byte_buffer_used(&board.outgoing) != 0,
               outcome == FRAME_IDLE ? IDLE_WAIT_MS : AWAITING_WAIT_MS);
  }
}

// Nothing is sent on quitting: the connection simply ends with the socket.
void close_network() {
  if (!net_available) return;
  connection_close(&server_connection);
  net_shutdown();
}

void shut_down() {
  input_events_stop();
  // The pointer must not be drawn from a sprite that is gone.
  show_mouse(nullptr);
  set_mouse_sprite(nullptr);
  toolbar_destroy_bitmaps();
  colour_panel_forget();
  client_world_close();
  allegro_exit();
  close_network();
  log_close();
}

}  // namespace

int client_frame(const FrameInput& in) {
  board_frame_start(&board, time(nullptr));
  int key = toolbar_panel_keys(in.key);
  if (is_escape(key)) return 0;
  int button_edge = button_latch_update(&mouse_latch, in.buttons);
  button_edge = toolbar_panel_step(key, button_edge, in.mouse_x, in.mouse_y);
  if (board.connected) network_step();
  stroke_step(in.mouse_x - ox, in.mouse_y - oy, button_edge, in.buttons, in.ctrl, in.shift);
  network_follow_session();
  if (net_available) server_link_retry(in.seconds);
  busy_indicator_step();
  compose_step();
  user_labels_step(in.alt);
  int outcome = frame_outcome(in.key);
  refresh_screen();
  return outcome;
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
  const bool canvases = board_session_open(&board);
  if (!(canvases && BackBuffer && ToolbarStrip && CursorSprite)) {
    client_world_close();
    return 0;
  }
  screen_set_layout(w, h);
  image_copy_all(&ServerCanvas, &StrokeLayer);
  clear_to_color(BackBuffer, bitmap_colour(0, 0, 0));
  return 1;
}

void client_world_close() {
  board_session_close(&board);
  destroy_shared_bitmap(&BackBuffer);
  destroy_shared_bitmap(&ToolbarStrip);
  destroy_shared_bitmap(&CursorSprite);
  // Made first and freed last: nothing else owns it.
  image_destroy(&SamplePicture);
}

void client_state_reset() {
  log_reset();
  dirty_list_clear();
  board_reset();
  chat_log_reset();
  random_reset();
  server_link_reset();
  chat_input_reset();
  stroke_input_reset();
  toolbar_reset();
  colour_picker_reset();
  tool_settings_reset(&board.tools);
  command_run_stop();
  point_list_release();
  switched_away = false;
  labels_shown = false;
  quit_requested = false;
  busy_counter = 0;
  mouse_latch = false;
  input_events_reset();
  quit_signals_reset();
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
  if (status == 0) {
    run_frames();
    shut_down();
  }
  if (quit_signal_caught()) {
    // The library's exit handler and the log's would not run.
    allegro_exit();
    log_close();
    quit_signal_reraise();
  }
  return status;
}
