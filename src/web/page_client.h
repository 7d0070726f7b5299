// The painting page's client in the browser: one board session and the
// picture the page shows, driven from the page's script through the calls
// below (exported from the WebAssembly module). The script moves the bytes
// over the WebSocket, turns pointer events into board coordinates and draws
// the controls; everything that decides what is painted, sent or chosen is
// the session's, shared with the desktop client.
#pragma once
#include <cstdint>

extern "C" {

// Opens the session and the shown picture; 1 on success.
int page_open();
// Draws with every renderer once on a scrap, so that the browser has compiled
// them before a board arrives; a task of its own after page_open.
void page_warm_up();
// Logs in as name, resuming the session after the first time; host and port
// are named in the notices.
int page_login(const char* name, const char* host, int port);
// The link closed from the other side: the notice, any stroke dropped.
void page_link_closed();

// Room for length received bytes; then page_received(length) takes them.
uint8_t* page_receive_buffer(int length);
int page_received(int length);
// The bytes to send (page_unsent_length of them), then how many were sent.
const uint8_t* page_unsent();
int page_unsent_length();
void page_sent(int count);

// One slice of what arrived, cut once it took milliseconds (after at least
// one message), so the page answers input between slices. Bits:
// 1 the picture changed, 2 the roster, 4 chat lines were added, 8 the link
// ended, 16 more is waiting (page_describe names them).
int page_frame(double milliseconds);

// Pointer input in board coordinates, as one desktop frame: edge 0, 1 left
// press, 2 right press; buttons held (1 left, 2 right); modifiers. A stroke
// drawn offline waits for the link; 0 when a left press is refused because
// the link is not to come back by itself (a goodbye: a kick, a refusal).
int page_pointer(int x, int y, int edge, int buttons, int ctrl, int shift);
// Drops the stroke in progress, sending nothing (a lost touch, a gesture).
void page_stroke_cancel();
// 1 once the server accepted the login: the board before it has arrived.
int page_joined();
// Bytes received since the login that are handled (drawn), for progress.
double page_handled_bytes();
// The page's sizes, names and limits as JSON: the board's size, the tools'
// names, the slider's and colour panel's sizes, the longest name and chat
// line, page_frame's bits, page_link_state's codes and the chat's colours by
// escape code.
const char* page_describe();

// The drawing tool (0 pen .. 5 stamp).
void page_set_tool(int tool);
int page_tool();
// A tool's slider (0 size, 1 second value): whether it has one, its value, the
// column that shows it, and a press at a column. A press changes the value.
int page_has_slider(int tool, int slider);
float page_slider_value(int tool, int slider);
int page_slider_column(int tool, int slider);
void page_slider_press(int tool, int slider, int column);

// The colour panel: a press, the current colour (0..2 red, green, blue;
// 3..5 hue, saturation, value) and the panel's picture as RGBA bytes.
int page_colour_press(int edge, int x, int y);
float page_colour(int index);
const uint8_t* page_colour_panel();

// A typed chat line (a leading '/' runs a command).
void page_chat(const char* line);
// Chat lines ever added, and the text of the n-th newest kept one (0 the
// newest), with its colour escapes; null beyond the kept ones.
unsigned page_chat_added();
const char* page_chat_line(int n);

// The roster: ids 1..page_roster_used; a present id's name (null when
// absent), where its latest stroke began and its colour (0xRRGGBB).
int page_roster_used();
const char* page_roster_name(int id);
int page_roster_x(int id);
int page_roster_y(int id);
int page_roster_colour(int id);
int page_own_id();
// Our commands not yet acknowledged, sent or waiting for the link (the busy
// indicator runs while any are); with strokes_only, the drawing commands.
int page_pending(int strokes_only);
int page_connected();
// The link: joined, joining (the login sent, the board arriving), away (it
// ended and may be taken up again) or gone (a goodbye: not by itself); the
// codes are page_describe's linkJoined, linkJoining, linkAway, linkGone.
int page_link_state();

// The area of the shown picture changed since the last page_take_dirty
// (x, y, w, h; w 0 when none; what page_frame received is shown by this
// call), and the RGBA bytes of an area of it.
const int* page_take_dirty();
const uint8_t* page_view_rgba(int x, int y, int w, int h);
}
