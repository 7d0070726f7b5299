// Waiting for input without the graphics library polling in the background.
// Under X11 its input thread wakes every millisecond even when nothing
// happens; while the frame loop runs it is paused, the loop reads the X
// connection itself once a frame, and an idle frame sleeps in one select on
// the X connection and the server socket, so either wakes it at once.
#pragma once

// Pauses the library's background input handling (a no-op without an X
// display, e.g. headless). Every pause is followed by a resume.
void input_wait_begin();
void input_wait_end();
// Hands the X events that arrived to the library's input handler, so key[],
// the key buffer and the mouse are up to date for this frame.
void input_pump();
// Sleeps until the X connection or socket_fd (ignored when negative) has
// bytes, or timeout_ms pass. Requests drawn so far reach the X server first.
void input_wait(int socket_fd, int timeout_ms);
