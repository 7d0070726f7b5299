// The chat line: sending what the user typed, and the slash commands (kick,
// restart, help, user, 8ball, motd) with their help texts and complaints.
#pragma once
#include "net/wire_limits.h"
#include "session/board_session.h"

constexpr int CHAT_TYPED_SIZE = MAX_CHAT_CHARS + 1;

// Sends one chat line through the session; it is shown when the server accepts it.
void chat_send_line(BoardSession* s, const char* line);

// Runs a typed command: the input line without its leading '/'.
void chat_run_command(BoardSession* s, const char* text);

// A line as typed: its printable characters only, up to 511 of them; a
// leading '/' makes it a command. An empty line does nothing.
void chat_submit(BoardSession* s, const char* line);
