// The limits of the wire protocol that the server enforces and the tools
// respect: frame size, points, texts, users and the reachable coordinates.
#pragma once
#include <cstddef>

#include "paint/canvas.h"

constexpr int MAX_POINTS = 255;
// The largest payload our client ever builds: a brush stroke of MAX_POINTS
// points after its author, seed, colour and two values.
constexpr size_t MAX_PAYLOAD = 12 + 4 * MAX_POINTS;
constexpr size_t MAX_FRAME = 3 + MAX_PAYLOAD;
// A browser's WebSocket message carries whole frames, at most eight of the
// largest: a page sends a stroke when the button is released and a chat line
// on Enter, never more than a few frames at once.
constexpr size_t MAX_SOCKET_MESSAGE = 8 * MAX_FRAME;
constexpr int MAX_CHAT_CHARS = 511;
constexpr int MAX_NAME_CHARS = 15;
constexpr int MAX_USERS = 128;

// Canvas coordinates the client can produce: the mouse position minus the
// origin of the picture centred on a screen of at most SCREEN_MAX a side.
constexpr int SCREEN_MAX = 8192;
constexpr int POINT_X_MIN = -(SCREEN_MAX - CANVAS_WIDTH) / 2;
constexpr int POINT_X_MAX = SCREEN_MAX - 1 - (SCREEN_MAX - CANVAS_WIDTH) / 2;
constexpr int POINT_Y_MIN = -(SCREEN_MAX - CANVAS_HEIGHT) / 2;
constexpr int POINT_Y_MAX = SCREEN_MAX - 1 - (SCREEN_MAX - CANVAS_HEIGHT) / 2;
