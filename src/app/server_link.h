// The desktop client's link to the server: the socket under the session's
// bytes, connecting and logging in once at start-up, and the frame's network
// step, which moves the bytes, steps the session and shows what it rebuilt.
#pragma once
#include "app/connection.h"

extern bool net_available;  // the socket library started
extern Connection server_connection;

// Opens the connection to the configured server and logs the board session
// in. The outcome is reported in the chat log; board.connected tells whether
// it worked.
void connect_and_login();

// One frame of networking, only while connected: one poll of the socket, then
// the session's step; a lost connection ends the link, drops a stroke in
// progress and redraws the whole screen.
void network_step();

// After the session rebuilt LocalCanvas: the stroke in progress and the panel
// drawn again over the new picture.
void show_rebuilt_canvas();

// Closes the socket once the session has ended the link (it does so when our
// command cannot be sent or kept).
void network_follow_session();

// Socket closed, the socket library's flag down; for tests.
void server_link_reset();
