// The chat log on the screen: the session's lines (session/chat_log.h) laid
// out with their colour escapes, as an overlay over the picture and in the
// Chat panel, and the lines the user interface adds itself.
#pragma once
#include <allegro.h>

#include "paint/image.h"
#include "session/chat_log.h"

// Adds one line to the session's log now; name none (nullptr) makes a system line.
void add_chat_line(const char* name, const char* text);
// printf-style system line.
void show_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

int draw_chat_text(BITMAP* bmp, const char* text, int width, int y);
int measure_chat_text(const char* text, int width);
// Expires overlay lines and recomposes BackBuffer from canvas when something
// changed or when forced; true when it redrew.
bool compose_screen(BITMAP* target, const Image* canvas, bool forced);

// Empty log, the Chat panel to be drawn again; for tests.
void chat_log_reset();
