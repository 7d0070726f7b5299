#include "net/link.h"

bool net_available = false;
bool connected = false;
uint8_t own_user_id = 0;
Connection server_connection = {-1, 0, {}, {}};
CommandQueue command_queue = {};

namespace {
void (*notice_hook)(const char*) = nullptr;
}  // namespace

bool link_online() { return net_available && connected; }

int link_submit(Message* m) {
  if (!message_send(m, &server_connection)) {
    message_free(m);
    return LINK_SEND_FAILED;
  }
  if (!queue_push(&command_queue, m)) {
    message_free(m);
    return LINK_QUEUE_FAILED;
  }
  return LINK_SENT;
}

void session_disconnect(const char* notice_format) {
  connection_close(&server_connection);
  connected = false;
  if (notice_hook) notice_hook(notice_format);
}

void link_set_notice_hook(void (*notice)(const char*)) { notice_hook = notice; }

void link_reset() {
  if (connected) connection_close(&server_connection);
  connected = false;
  own_user_id = 0;
  // No descriptor: a later close must not close whatever took number 0.
  server_connection = {-1, 0, {}, {}};
  queue_free(&command_queue);
  queue_init(&command_queue);
}
