#include "app/server_link.h"

#include <ctime>

#include "app/config.h"
#include "paint/canvas.h"
#include "session/board_session.h"
#include "ui/board.h"
#include "ui/dirty_list.h"
#include "ui/chat_view.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/toolbar.h"

bool net_available = false;
Connection server_connection = {-1, 0};

namespace {

// The automatic reconnects after a link end.
struct Rejoin {
  bool scheduled;   // the next attempt is due at `at`
  int attempts;     // since the link last came back
  double at;        // seconds, the caller's steady clock
  bool connecting;  // server_connection's connect is under way
  double give_up;   // and is given up then
} rejoin = {};

void ask_for_board() {
  // A checkpoint is drawn on the paper: a picture of one's own background
  // is drawn from the whole history.
  board.take_checkpoint = !canvasHasBackground();
  board.take_resume = true;
}

void schedule_rejoin(double now) {
  rejoin.scheduled = true;
  rejoin.at = now + rejoin_delay(rejoin.attempts++);
}

}  // namespace

double rejoin_delay(int attempt) {
  static const double DELAYS[] = {0.5, 1, 2, 4, 8, 15, 30};
  constexpr int LAST = sizeof DELAYS / sizeof *DELAYS - 1;
  return DELAYS[attempt < 0 ? 0 : attempt > LAST ? LAST : attempt];
}

void server_link_retry(double now) {
  if (board.connected) return;
  if (rejoin.connecting) {
    const int done = connection_finish(&server_connection, 0);
    if (done == 0 && now < rejoin.give_up) return;
    rejoin.connecting = false;
    if (done == 1 && board_session_login(&board, config.user_name, config.server_name, config.server_port)) return;
    connection_close(&server_connection);
    schedule_rejoin(now);
    return;
  }
  if (!board_session_may_rejoin(&board)) return;
  if (!rejoin.scheduled) {
    int strokes = 0;
    board_session_pending(&board, &strokes);
    if (rejoin.attempts == 0)
      show_message("Reconnecting to %s:%d... (%d strokes waiting)", config.server_name, config.server_port, strokes);
    schedule_rejoin(now);
    return;
  }
  if (now < rejoin.at) return;
  rejoin.scheduled = false;
  board.now = time(nullptr);
  ask_for_board();
  rejoin.connecting = connection_start(&server_connection, config.server_name, config.server_port);
  if (rejoin.connecting)
    rejoin.give_up = now + CONNECT_WAIT_MS / 1000.0;
  else
    schedule_rejoin(now);
}

void connect_and_login() {
  board.now = time(nullptr);
  ask_for_board();
  show_message("Attempting to connect to %s:%d. . .", config.server_name, config.server_port);
  if (connection_open(&server_connection, config.server_name, config.server_port) &&
      !board_session_login(&board, config.user_name, config.server_name, config.server_port))
    connection_close(&server_connection);
  if (!board.connected)
    show_message("Unable to connect to %s:%d.", config.server_name, config.server_port);
}

namespace {

double wall_seconds() { return double(time(nullptr)); }

}  // namespace

void network_step() {
  if (!connection_poll(&server_connection, &board.outgoing, &board.incoming)) {
    connection_close(&server_connection);
    board_session_disconnect(&board, LINK_LOST);
    mark_all_dirty();
    return;
  }
  // A long backlog is spread over frames a second apart at most.
  board_session_step(&board, wall_seconds, double(board.now) + 1);
  if (board.frame.received_this_frame) show_rebuilt_canvas();
  if (board.frame.resumed) show_message("Back on %s:%d.", config.server_name, config.server_port);
  // The server answered our login: the delays start again from the shortest.
  if (board.connected && !board.resume.reply_due) rejoin = {};
}

void show_rebuilt_canvas() {
  if (stroke_in_progress(&board.stroke)) {
    // The stroke goes on over the new picture: its settled part and its tail.
    compose_screen(BackBuffer, &StrokeLayer, true);
    if (board.stroke.points.count > 1) stroke_redraw_tail();
  } else {
    compose_screen(BackBuffer, &LocalCanvas, true);
  }
  if (panel_visible) {
    draw_toolbar();
    draw_tool_panel();
  }
}

void network_follow_session() {
  // A connect under way is server_link_retry's.
  if (!board.connected && !rejoin.connecting) connection_close(&server_connection);
}

void server_link_reset() {
  connection_close(&server_connection);
  server_connection = {-1, 0};
  net_available = false;
  rejoin = {};
}
