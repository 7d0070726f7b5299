// A checkpoint of the board: its picture after its first `commands` drawing
// commands, drawn by the engine on the paper, sent as a PNG to a client that
// asks for one at login instead of those commands. The drawing is
// deterministic, so the picture is exactly what the client would have drawn.
//
// The exchange: a login request may carry one more byte after the name, its
// flags; LOGIN_TAKES_CHECKPOINT asks for a checkpoint. The server may then
// send, right after its login reply and before any command, MSG_CHECKPOINT
// frames: the first holds the head (below) and the first bytes of the PNG,
// the next ones the rest, in order. The commands after the checkpoint's
// follow as usual. A login without the flag byte gets what it always got.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "paint/image.h"

constexpr uint8_t LOGIN_TAKES_CHECKPOINT = 1;

struct CheckpointHead {
  uint32_t commands;    // drawing commands of the history it stands for
  uint64_t bytes;       // their frames' bytes, from the board's start
  uint64_t history;     // base/digest.h of those frames
  uint64_t picture;     // image_digest of the picture
  uint32_t png_length;  // bytes of the PNG, over all the frames
};
constexpr size_t CHECKPOINT_HEAD_SIZE = 32;
// No PNG of the board is larger than its raw pixels plus the format's overhead.
constexpr uint32_t CHECKPOINT_PNG_MAX = 4u << 20;

// The frames of a checkpoint, ready to send: head and PNG in pieces of at most
// the largest payload. Empty when the PNG is empty or too large.
std::vector<uint8_t> checkpoint_frames(const CheckpointHead& head, const uint8_t* png, size_t length);

// A client taking a checkpoint in.
struct CheckpointIntake {
  CheckpointHead head;
  uint8_t* png;     // head.png_length bytes once the head came; null before
  size_t received;  // of them
};
enum CheckpointStep { CHECKPOINT_MORE, CHECKPOINT_WHOLE, CHECKPOINT_BAD };
// One MSG_CHECKPOINT payload: the head with the first bytes, then more bytes.
// CHECKPOINT_BAD for a short head, a PNG length out of range or bytes beyond
// it, or no memory.
CheckpointStep checkpoint_take(CheckpointIntake* in, const uint8_t* payload, size_t length);
// The whole checkpoint's picture into out (CANVAS_WIDTH x CANVAS_HEIGHT): 1
// when the PNG decodes to exactly that size and its pixels have the head's
// digest; 0 otherwise, out's pixels then undefined.
int checkpoint_picture(const CheckpointIntake* in, Image* out);
// Frees what the intake holds and empties it.
void checkpoint_intake_free(CheckpointIntake* in);
