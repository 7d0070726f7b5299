// The desktop client's link to the server: the socket under the session's
// bytes, connecting and logging in at start-up and again after a link end,
// and the frame's network step, which moves the bytes, steps the session and shows what it rebuilt.
#pragma once
#include "app/connection.h"

extern bool net_available;  // the socket library started
extern Connection server_connection;

// Opens the connection to the configured server (waiting CONNECT_WAIT_MS at
// most) and logs the board session in, asking to resume it after a link end.
// The outcome is reported in the chat log; board.connected tells whether it
// worked.
void connect_and_login();

// The wait before the attempt-th reconnect (0 the first), in seconds: 0.5, 1,
// 2, 4, 8, 15, then 30.
double rejoin_delay(int attempt);
// The link taken up again by itself, never waiting, once a frame; now is a
// steady clock in seconds. After a link end that allows it (not a goodbye:
// a kick, a refused login, a full board) it says "Reconnecting to HOST:PORT...
// (N strokes waiting)" and connects after rejoin_delay, a connect under way
// being given up after CONNECT_WAIT_MS; a failed attempt waits the next delay.
// Connected, it logs in with the session's ticket.
void server_link_retry(double now);

// One frame of networking, only while connected: one poll of the socket, then
// the session's step; a lost connection ends the link (a stroke in progress
// goes on, held for the rejoin) and redraws the whole screen. A resumed session says "Back on
// HOST:PORT.".
void network_step();

// After the session rebuilt LocalCanvas: the stroke in progress and the panel
// drawn again over the new picture.
void show_rebuilt_canvas();

// Closes the socket once the session has ended the link (it does so when our
// command cannot be sent or kept).
void network_follow_session();

// Socket closed, the socket library's flag down; for tests.
void server_link_reset();
