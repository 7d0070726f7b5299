// What the server accepts from a client: frame size, command layouts, names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/layout.h"

// The largest payload our client ever builds: a brush stroke of 255 points.
constexpr size_t MAX_PAYLOAD = 12 + 4 * 255;
constexpr size_t MAX_FRAME = 3 + MAX_PAYLOAD;
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

// Both follow the client's command layouts.
bool is_drawing_type(int type);
// Bytes before the points of a drawing command, or -1 for other types.
int drawing_fixed_size(int type);
// A drawing command is valid when its fixed fields are present and followed by
// 1 to 255 whole points, every one of them inside the reachable range.
int validate_drawing(int type, const uint8_t* payload, size_t length);
// A chat line: the user id byte, then at most 511 characters ended by the only
// zero byte of the payload.
int validate_chat(const uint8_t* payload, size_t length);
// Splits a payload made of exactly `count` zero-terminated strings.
int split_strings(const uint8_t* payload, size_t length, std::string* out, int count);
// Printable characters only (space through tilde), cut to `max_chars`.
std::string clean_text(const std::string& text, size_t max_chars);
// A login name: printable, no surrounding blanks, 1 to 15 characters, "guest" when empty.
std::string clean_name(const std::string& raw);
