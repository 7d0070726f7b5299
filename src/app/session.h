// The connection to the server, login, dispatch of incoming messages and the
// reconciliation of ServerCanvas and LocalCanvas.
#pragma once
#include <cstdint>
#include <ctime>
#include "net/command_queue.h"
#include "net/connection.h"

extern bool connected;
extern uint8_t own_user_id;
extern bool received_this_frame;
extern Connection server_connection;
extern CommandQueue command_queue;

// Opens the connection to the configured server and queues the login request.
// The outcome is reported in the chat log; connected tells whether it worked.
void connect_and_login();

// One frame of networking: one poll, then the messages that arrived until the
// clock's second changes, then a rebuild of LocalCanvas when ServerCanvas got
// something that LocalCanvas lacks. Only while connected.
void network_step();

// LocalCanvas := ServerCanvas + every queued entry but chat lines; the stroke in
// progress and the panel are drawn again over the rebuilt picture.
void rebuild_local_canvas();

// Ends the connection for good: closes it, clears connected and shows the
// notice, formatted with the server's name and port.
void session_disconnect(const char* notice_format);

// The clock network_step reads (whole seconds); tests replace it, null restores
// the runtime library's time.
void session_set_clock(time_t (*clock)());

// Disconnected, no id, empty queue, real clock; for tests. Frees what is queued.
void session_reset();
