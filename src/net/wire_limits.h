// The limits of the wire protocol that the server enforces and the tools
// respect: frame size, points, texts, users and the reachable coordinates.
#pragma once
#include <cstddef>

// The largest payload our client ever builds: a brush stroke of 255 points.
constexpr size_t MAX_PAYLOAD = 12 + 4 * 255;
constexpr size_t MAX_FRAME = 3 + MAX_PAYLOAD;
// A browser's WebSocket message carries whole frames, at most eight of the
// largest: a page sends a stroke when the button is released and a chat line
// on Enter, never more than a few frames at once.
constexpr size_t MAX_SOCKET_MESSAGE = 8 * MAX_FRAME;
constexpr int MAX_POINTS = 255;
constexpr int MAX_CHAT_CHARS = 511;
constexpr int MAX_NAME_CHARS = 15;
constexpr int MAX_USERS = 128;

// Canvas coordinates the client can produce: the mouse position minus the
// origin of the 912 x 684 picture centred on a screen of at most 8192 x 8192.
constexpr int POINT_X_MIN = -(8192 - 912) / 2;
constexpr int POINT_X_MAX = 8191 - (8192 - 912) / 2;
constexpr int POINT_Y_MIN = -(8192 - 684) / 2;
constexpr int POINT_Y_MAX = 8191 - (8192 - 684) / 2;
