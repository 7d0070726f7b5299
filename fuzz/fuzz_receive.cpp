// The client's receive path: arbitrary server bytes go into the session core,
// cut into pieces, one step per piece, until every complete message is
// handled; after every step LocalCanvas must be ServerCanvas with our pending
// commands (not chat lines) over it. Byte 0 picks our pending commands besides
// the login request; byte 1 how many messages one step handles (low 4 bits,
// one more than their value), how the bytes are cut (bits 4 to 6: all at once,
// or pieces of 2^(n+2) bytes) and whether points stay as they are (bit 7) rather
// than folded into -32..95, across the picture's top left corner: long strokes
// only slow every run down (fuzz_apply_command covers them).
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "net/command_run.h"
#include "net/drawing_tools.h"
#include "session_support.h"

namespace {

BoardSession session;
Image paper;
Image scratch;
unsigned clock_calls;
unsigned messages_per_step;
// Where a run may have drawn on either picture: the corner a reset puts back
// and the footprints of every command it may draw.
Footprint drawn;

// The step reads the clock once, then once before each message: the second
// changes after messages_per_step of them.
// The step is cut after messages_per_step messages.
double fuzz_clock() { return ++clock_calls >= messages_per_step ? 1 : 0; }

// Login replies and restarts reset ServerCanvas, and weaving the paper would
// take most of every run: only a corner of it is put back (the rest of the
// picture stays as it was, which the check does not mind).
void reset_corner(Image* canvas) {
  const Image corner = image_part(&paper, 0, 0, 8, 8);
  image_copy_all(&corner, canvas);
}

void note_drawn(Message* m) {
  StrokeCommand c;
  if (!decode_command(m, &c, &point_list)) return;
  const Footprint f = command_footprint(c, point_list, CANVAS_WIDTH, CANVAS_HEIGHT);
  drawn = {std::min(drawn.x0, f.x0), std::min(drawn.y0, f.y0), std::max(drawn.x1, f.x1), std::max(drawn.y1, f.y1)};
}

// Folds the points of the stream's drawing commands unless they stay, and
// notes where its complete ones may draw.
void prepare_stream(uint8_t* stream, size_t length, bool fold) {
  for (size_t at = 0; at + 3 <= length;) {
    size_t end = std::min(length, at + 3 + frame_payload_length(stream + at));
    if (const CommandLayout* layout = command_layout(stream[at]); layout && fold)
      for (size_t p = at + 3 + size_t(command_fixed_size(*layout)); p + 2 <= end; p += 2) {
        int v = int16_t(stream[p] | (stream[p + 1] << 8));
        v = (v % 128 + 128) % 128 - 32;
        stream[p] = uint8_t(v & 0xFF);
        stream[p + 1] = uint8_t((v >> 8) & 0xFF);
      }
    Message m;
    if (frame_complete_size(stream + at, length - at) && message_from_frame(&m, stream + at)) {
      note_drawn(&m);
      message_free(&m);
    }
    at = end;
  }
}

// One of our commands on its way: a chat line, or a pen, brush or smudge stroke
// drawn into LocalCanvas, short as it is replayed whenever ServerCanvas changes.
void our_command(int kind) {
  Message m;
  if (kind == 3) {
    message_init(&m, MSG_CHAT);
    message_put_byte(&m, session.own_user_id);
    message_put_string(&m, "pending line");
  } else {
    static const int16_t xs[] = {100, 104, 109}, ys[] = {100, 103, 101};
    encode_command(&m, DRAWING_TOOLS[2 * kind].layout, session.own_user_id, 200, 20, 20, 2, 60, xs, ys, 3);
    note_drawn(&m);
  }
  // A session that resumes holds its commands until the server's reply.
  const int submitted = board_session_submit(&session, &m);
  if (submitted != SUBMIT_SENT && submitted != SUBMIT_HELD) abort();
}

// Outside what the run may have drawn both pictures are still the paper: a
// fault of the reconciliation shows where commands drew.
void check() {
  if (!testsupport::local_canvas_consistent(&session, &scratch, drawn)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!image_create(&scratch, CANVAS_WIDTH, CANVAS_HEIGHT) || !image_create(&paper, CANVAS_WIDTH, CANVAS_HEIGHT))
    abort();
  paintPaper(&paper);
  session.reset_canvas = reset_corner;
  if (!board_session_open(&session)) abort();
  image_copy_all(&paper, &session.ServerCanvas);
  image_copy_all(&paper, &session.LocalCanvas);
  return 0;
}

// Every run starts from the paper: each puts it back where it may have drawn.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  drawn = {0, 0, 8, 8};
  messages_per_step = 1 + (data[1] & 15);
  const unsigned cut = (data[1] >> 4) & 7;
  // Half the inputs ask for a checkpoint, which may then come in the stream.
  session.take_checkpoint = size & 1;
  // Half of them resume, whose reply may then come in the stream too.
  session.take_resume = (size >> 1) & 1;
  if (!board_session_login(&session, "Ann", "127.0.0.1", 2020)) abort();
  for (int i = 0; i < (data[0] & 3); ++i) our_command((data[0] >> (2 + 2 * i)) & 3);
  check();

  std::vector<uint8_t> stream(data + 2, data + size);
  prepare_stream(stream.data(), stream.size(), !(data[1] & 0x80));
  const size_t piece = cut ? size_t(4) << cut : stream.size();
  for (size_t at = 0;;) {
    const size_t n = std::min(piece, stream.size() - at);
    const size_t waiting = byte_buffer_used(&session.incoming) + n;
    if (n && !board_session_received(&session, stream.data() + at, n)) abort();
    at += n;
    board_frame_start(&session, 1700000000);
    clock_calls = 0;
    board_session_step(&session, fuzz_clock, 1);
    // Only a checkpoint that cannot be trusted ends the link, or a resume
    // reply that is not one or says the session is busy elsewhere.
    const LinkEnd end = session.frame.disconnected;
    if (!session.connected && end != LINK_BAD_CHECKPOINT &&
        !(session.take_resume && (end == LINK_LOST || end == LINK_BUSY)))
      abort();
    if (!session.connected) break;
    // A step that took no message changed nothing; done once everything is in.
    const bool took = byte_buffer_used(&session.incoming) != waiting;
    if (took) check();
    if (at == stream.size() && !took) break;
  }
  if (session.connected) board_session_disconnect(&session, LINK_LOST);
  board_session_reset(&session);
  if (session.take_checkpoint) drawn = {0, 0, CANVAS_WIDTH, CANVAS_HEIGHT};  // a checkpoint may be anywhere
  for (Image* canvas : {&session.ServerCanvas, &session.LocalCanvas})
    image_copy(&paper, canvas, drawn.x0, drawn.y0, drawn.x0, drawn.y0, drawn.x1 - drawn.x0, drawn.y1 - drawn.y0);
  return 0;
}
