// What the server accepts from a client: frame size, command layouts, names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/layout.h"
#include "net/wire_limits.h"

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
