// The wire layout of the drawing commands, the login constant and the frame
// header: the one description the client's encoders and decoder, the server's
// checks and the tools are derived from.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t LOGIN_CONSTANT = 9;

// Payload length announced by a frame header (at least 3 bytes).
inline size_t frame_payload_length(const uint8_t* header) {
  return size_t(header[1]) | (size_t(header[2]) << 8);
}

// A drawing command's payload: the author's id byte, then the fields its
// layout has in this order, then the points (two 16-bit values each).
struct CommandLayout {
  uint32_t type;
  const char* tool;  // named in the log when a command has no points
  bool seeded;       // a 32-bit grain seed
  bool coloured;     // red, green and blue bytes
  int values;        // 0, 1 or 2 scaled 16-bit values
};

// The drawing tools and their layouts: net/drawing_tools.h.
constexpr int DRAWING_TYPE_COUNT = 6;

// The layout of a drawing command type, or null for every other type.
const CommandLayout* command_layout(int type);
// Bytes before the points.
int command_fixed_size(const CommandLayout& layout);
