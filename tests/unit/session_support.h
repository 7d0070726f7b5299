// Helpers for driving a board session with bytes: the server's frames, short
// strokes, the chat lines as text, and the session's invariant.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "net/command.h"
#include "net/layout.h"
#include "net_test_support.h"
#include "paint/canvas.h"
#include "session/board_session.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using nettest::concat;
using nettest::frame_bytes;
using nettest::text_bytes;

constexpr time_t TEST_NOW = 1700000000;

inline std::string system_line(const std::string& text) { return "\xFF\xFC" + text; }

inline std::string spoken_line(const std::string& name, const std::string& text) {
  return "\xFF\xFD" + name + "\xFF\xFE: \xFF\xFF" + text;
}

// Every kept line, oldest first.
inline Lines chat_lines(const ChatLog& log) {
  Lines out;
  for (int i = log.oldest; i != log.head; i = (i + 1) % CHAT_LOG_SLOTS) out.push_back(log.lines[i].text);
  return out;
}

// A short stroke's frame; where it lies, its colour and values follow from variant.
inline Bytes stroke_frame(uint8_t author, int tool, unsigned variant) {
  const int x = int(variant * 37 % CANVAS_WIDTH), y = int(variant * 91 % CANVAS_HEIGHT);
  const int16_t xs[] = {int16_t(x), int16_t(x + 30), int16_t(x + 5)};
  const int16_t ys[] = {int16_t(y), int16_t(y + 20), int16_t(y - 25)};
  Message m;
  encode_command(&m, COMMAND_LAYOUTS[tool], author, float(variant * 53 % 256), float(variant * 29 % 256), 90,
                 float(2 + variant % 30), float(variant * 7 % 400), xs, ys, 1 + variant % 3);
  const Bytes out = nettest::frame_of(&m);
  message_free(&m);
  return out;
}

// The message of a frame.
inline Message frame_message(const Bytes& frame) {
  Message m;
  message_from_frame(&m, frame.data());
  return m;
}

// True when LocalCanvas is ServerCanvas with every queued command but chat
// lines drawn over it; scratch is a canvas-sized image it overwrites.
inline bool local_canvas_consistent(const BoardSession* s, Image* scratch) {
  image_copy_all(&s->ServerCanvas, scratch);
  for (uint16_t i = 0; i < queue_count(&s->command_queue); ++i) {
    Message* m = queue_at(const_cast<CommandQueue*>(&s->command_queue), i);
    if (m->type != MSG_CHAT) apply_command(scratch, m);
  }
  for (int y = 0; y < CANVAS_HEIGHT; ++y)
    if (memcmp(image_row(scratch, y), image_row(&s->LocalCanvas, y), size_t(CANVAS_WIDTH) * 4) != 0) return false;
  return true;
}

}  // namespace testsupport
