#include "app/session.h"

bool connected = false;
uint8_t own_user_id = 0;
bool received_this_frame = false;
Connection server_connection = {};
CommandQueue command_queue = {};
