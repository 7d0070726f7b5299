// Waking the frame loop. Our input callbacks (on the graphics library's input
// thread), the window's close button and our signal handlers write one byte
// to a pipe; a frame with nothing left to do sleeps in one poll on that pipe
// and the server socket, so either wakes it at once.
#pragma once

// Makes the pipe once per process. It is never closed: a signal handler may
// write to it at any moment until the process ends. 1 on success.
int input_wait_open();
// Wakes the loop, or makes its next wait return at once. Safe on any thread
// and in a signal handler.
void input_wake();
// Sleeps until input_wake, until socket_fd (ignored when negative) can be
// read (or written, when want_write), or until timeout_ms pass.
void input_wait(int socket_fd, bool want_write, int timeout_ms);
