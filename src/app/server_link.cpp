#include "app/server_link.h"

#include "app/config.h"
#include "paint/dirty_rect.h"
#include "session/board_session.h"
#include "ui/board.h"
#include "ui/chat_view.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/toolbar.h"

bool net_available = false;
Connection server_connection = {-1, 0};

void connect_and_login() {
  show_message("Attempting to connect to %s:%d. . .", config.server_name, config.server_port);
  if (connection_open(&server_connection, config.server_name, config.server_port) &&
      !board_session_login(&board, config.user_name, config.server_name, config.server_port))
    connection_close(&server_connection);
  if (!board.connected)
    show_message("Unable to connect to %s:%d.", config.server_name, config.server_port);
}

void network_step() {
  if (!connection_poll(&server_connection, &board.outgoing, &board.incoming)) {
    connection_close(&server_connection);
    stroke_abandon();
    board_session_disconnect(&board, LINK_LOST);
    mark_all_dirty();
    return;
  }
  board_session_step(&board);
  if (board.frame.received_this_frame) show_rebuilt_canvas();
}

void show_rebuilt_canvas() {
  if (stroke_in_progress()) {
    // The stroke goes on over the new picture: its settled part and its tail.
    stroke_rebuild_layer();
    compose_screen(BackBuffer, &StrokeLayer, true);
    if (StrokePoints.count > 1) stroke_redraw_tail();
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
