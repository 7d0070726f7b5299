// The connection to the server, login, dispatch of incoming messages and the
// reconciliation of ServerCanvas and LocalCanvas.
#pragma once
#include <cstdint>
#include <ctime>
#include "net/link.h"

// Set when ServerCanvas changed this frame; the frame clears it first.
extern bool received_this_frame;

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

// The clock network_step reads (whole seconds); tests replace it, null restores
// the runtime library's time.
void session_set_clock(time_t (*clock)());

// Has decoded commands keep the roster and the chat log, and disconnection
// notices name the configured server.
void session_register_hooks();

// Disconnected, no id, empty queue, real clock; for tests. Frees what is queued.
void session_reset();
