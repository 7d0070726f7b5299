// Helpers for driving a board session with bytes: the server's frames, short
// strokes, the chat lines as text, and the session's invariant.
#pragma once
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "net/command.h"
#include "net/drawing_tools.h"
#include "net/command_run.h"
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
  encode_command(&m, DRAWING_TOOLS[tool].layout, author, float(variant * 53 % 256), float(variant * 29 % 256), 90,
                 float(2 + variant % 30), float(variant * 7 % 400), xs, ys, 1 + variant % 3);
  const Bytes out = nettest::frame_of(&m);
  message_free(&m);
  return out;
}

inline Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// The server's MSG_RESUME: outcome, a token of 16 times one byte, accepted, reason.
inline Bytes resume_frame(uint8_t outcome, uint8_t token, uint32_t accepted, const std::string& reason = "") {
  return frame_bytes(MSG_RESUME, concat({{outcome}, Bytes(RESUME_TOKEN_SIZE, token), le32(accepted), text_bytes(reason)}));
}

// The message of a frame.
inline Message frame_message(const Bytes& frame) {
  Message m;
  message_from_frame(&m, frame.data());
  return m;
}

// Whether n pixels are the same. It reads whole pictures after every step of
// fuzz_receive, where the sanitizers' look at every memcmp or every pixel
// doubled the cost: the rows are live pixels, so they are left out.
__attribute__((no_sanitize("address", "undefined"))) inline bool same_pixels(const uint32_t* a, const uint32_t* b, int n) {
  uint32_t differ = 0;
  for (int i = 0; i < n; ++i) differ |= a[i] ^ b[i];
  return differ == 0;
}

// True when LocalCanvas is ServerCanvas with every queued command but chat
// lines drawn over it, looking at the pixels of within only (all of them
// unless given); scratch is a canvas-sized image it overwrites. The commands
// are drawn on scratch inside the area they may reach (their footprints, which
// also hold everything they read); outside it LocalCanvas must be ServerCanvas
// itself.
inline bool local_canvas_consistent(const BoardSession* s, Image* scratch,
                                    Footprint within = {0, 0, CANVAS_WIDTH, CANVAS_HEIGHT}) {
  CommandQueue* queue = const_cast<CommandQueue*>(&s->command_queue);
  Footprint area = {CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0};
  for (uint16_t i = 0; i < queue_count(queue); ++i) {
    StrokeCommand c;
    if (queue_at(queue, i)->type == MSG_CHAT || !decode_command(queue_at(queue, i), &c, &point_list)) continue;
    const Footprint f = command_footprint(c, point_list, CANVAS_WIDTH, CANVAS_HEIGHT);
    area = {std::min(area.x0, f.x0), std::min(area.y0, f.y0), std::max(area.x1, f.x1), std::max(area.y1, f.y1)};
  }
  if (area.x0 < area.x1 && area.y0 < area.y1) {
    image_copy(&s->ServerCanvas, scratch, area.x0, area.y0, area.x0, area.y0, area.x1 - area.x0, area.y1 - area.y0);
    for (uint16_t i = 0; i < queue_count(queue); ++i)
      if (queue_at(queue, i)->type != MSG_CHAT) apply_command(scratch, queue_at(queue, i));
  }
  auto same = [](const Image* a, const Image* b, int y, int x0, int x1) {
    return same_pixels(image_row(a, y) + x0, image_row(b, y) + x0, x1 - x0);
  };
  for (int y = within.y0; y < within.y1; ++y) {
    const bool inside = y >= area.y0 && y < area.y1;
    const int x0 = std::max(within.x0, std::min(within.x1, inside ? area.x0 : within.x1));
    const int x1 = std::max(x0, std::min(within.x1, inside ? area.x1 : within.x1));
    if (!same(&s->LocalCanvas, &s->ServerCanvas, y, within.x0, x0) || !same(&s->LocalCanvas, scratch, y, x0, x1) ||
        !same(&s->LocalCanvas, &s->ServerCanvas, y, x1, within.x1))
      return false;
  }
  return true;
}

}  // namespace testsupport
