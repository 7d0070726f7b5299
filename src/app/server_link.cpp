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

void connect_and_login() {
  board.now = time(nullptr);
  // A checkpoint is drawn on the paper: a picture of one's own background
  // is drawn from the whole history.
  board.take_checkpoint = !canvasHasBackground();
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
  if (!board.connected) connection_close(&server_connection);
}

void server_link_reset() {
  connection_close(&server_connection);
  server_connection = {-1, 0};
  net_available = false;
}
