// SIGINT and SIGTERM (Ctrl-C, kill) end the client the way Esc does: the
// handler only asks the frame loop to stop and wakes it, so the normal
// shutdown restores the display and closes the log. The client then ends by
// that same signal, so whoever started it sees why it ended.
#pragma once

// Replaces the graphics library's handlers for the two, which it installs
// when it starts and which would end the client without closing the log.
void quit_signals_install();
// The signal that asked the client to quit, or 0.
int quit_signal_caught();
// Ends the process by the caught signal's default action; returns when none
// was caught.
void quit_signal_reraise();
// Default handlers back, nothing caught; for tests.
void quit_signals_reset();
