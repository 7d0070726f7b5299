// The connection to the server, login, dispatch of incoming messages and the
// reconciliation of ServerCanvas and LocalCanvas.
#pragma once
#include <cstdint>
#include "net/command_queue.h"
#include "net/connection.h"

extern bool connected;
extern uint8_t own_user_id;
extern bool received_this_frame;
extern Connection server_connection;
extern CommandQueue command_queue;
