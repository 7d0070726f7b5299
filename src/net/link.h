// The client's link to the server: whether there is one, our id on it, the
// socket and the commands sent but not yet accepted.
#pragma once
#include <cstdint>

#include "net/command_queue.h"
#include "net/connection.h"
#include "net/message.h"

extern bool net_available;  // the socket library started
extern bool connected;
extern uint8_t own_user_id;
extern Connection server_connection;
extern CommandQueue command_queue;

// True while commands can go to the server.
bool link_online();

enum LinkSubmit { LINK_SENT = 0, LINK_SEND_FAILED = 1, LINK_QUEUE_FAILED = 2 };

// Sends m and keeps it until the server accepts it (the queue owns it then).
// On failure m is freed and nothing else happens: the caller says why and
// whether the link ends. Only while online.
int link_submit(Message* m);

// Ends the connection for good: closes it, clears connected and has the
// registered notice hook show notice_format (it gets the server and port).
void session_disconnect(const char* notice_format);
void link_set_notice_hook(void (*notice)(const char* notice_format));

// Disconnected, no id, empty queue; frees what is queued. The socket library's
// flag and the notice hook stay.
void link_reset();
