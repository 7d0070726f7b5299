#include "checkpoint_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/digest.h"
#include "file_write.h"
#include "net/layout.h"
#include "net/message.h"

namespace {

// FILE.checkpoint: the magic, the head as it travels (with the board length
// it stands for), the PNG, and the digest of everything before it.
constexpr char MAGIC[8] = {'E', 'A', 'S', 'E', 'L', 'C', 'K', '1'};
constexpr size_t FIXED = sizeof MAGIC + CHECKPOINT_HEAD_SIZE;
constexpr size_t READ_PIECE = 1 << 20;

void put(std::vector<uint8_t>* out, uint64_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) out->push_back(uint8_t(v >> (8 * k)));
}
uint64_t get(const uint8_t* at, int bytes) {
  uint64_t v = 0;
  for (int k = 0; k < bytes; ++k) v |= uint64_t(at[k]) << (8 * k);
  return v;
}

bool read_all(const std::string& path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t piece[65536];
  size_t got;
  while ((got = fread(piece, 1, sizeof piece, f)) > 0) {
    out->insert(out->end(), piece, piece + got);
    if (out->size() > FIXED + CHECKPOINT_PNG_MAX + 8) break;  // no checkpoint is that long
  }
  const bool ok = !ferror(f);
  fclose(f);
  return ok;
}

}  // namespace

std::string checkpoint_path(const std::string& board_path) { return board_path + ".checkpoint"; }

std::vector<uint8_t> checkpoint_payload(const Checkpoint& c) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at + FRAME_HEADER_SIZE <= c.frames.size();) {
    const size_t payload = frame_payload_length(&c.frames[at]);
    out.insert(out.end(), c.frames.begin() + long(at + FRAME_HEADER_SIZE),
               c.frames.begin() + long(at + FRAME_HEADER_SIZE + payload));
    at += FRAME_HEADER_SIZE + payload;
  }
  return out;
}

int checkpoint_make(Checkpoint* c, const std::shared_ptr<BoardFile>& file, size_t offset, const CheckpointHead& head,
                    const std::string& png) {
  c->file = file;
  c->offset = offset;
  c->head = head;
  c->head.bytes = offset;
  c->head.png_length = uint32_t(png.size());
  c->frames = checkpoint_frames(c->head, reinterpret_cast<const uint8_t*>(png.data()), png.size());
  return !c->frames.empty();
}

int checkpoint_save(const Checkpoint& c, const std::string& path) {
  std::vector<uint8_t> out(MAGIC, MAGIC + sizeof MAGIC);
  const std::vector<uint8_t> payload = checkpoint_payload(c);
  out.insert(out.end(), payload.begin(), payload.end());
  put(&out, digest_bytes(DIGEST_START, out.data(), out.size()), 8);
  return file_replace(path, out.data(), out.size(), 0644);
}

uint64_t checkpoint_digest_file(const BoardFile& file, size_t from, size_t to, uint64_t start, bool* ok) {
  std::vector<uint8_t> piece(READ_PIECE);
  uint64_t h = start;
  *ok = true;
  while (from < to) {
    const ssize_t got = pread(file.fd, piece.data(), std::min(READ_PIECE, to - from), off_t(from));
    if (got <= 0) {
      *ok = false;
      return h;
    }
    h = digest_bytes(h, piece.data(), size_t(got));
    from += size_t(got);
  }
  return h;
}

int checkpoint_load(const std::string& path, const std::shared_ptr<BoardFile>& file, size_t length, Checkpoint* c,
                    std::string* why) {
  why->clear();
  std::vector<uint8_t> in;
  if (access(path.c_str(), F_OK) != 0) return 0;
  if (!read_all(path, &in)) return *why = "cannot be read", 0;
  if (in.size() < FIXED + 8 || memcmp(in.data(), MAGIC, sizeof MAGIC) != 0) return *why = "is not a checkpoint", 0;
  const size_t body = in.size() - 8;
  if (get(in.data() + body, 8) != digest_bytes(DIGEST_START, in.data(), body)) return *why = "is damaged", 0;
  const uint8_t* payload = in.data() + sizeof MAGIC;
  CheckpointIntake intake = {};
  const CheckpointStep step = checkpoint_take(&intake, payload, body - sizeof MAGIC);
  const CheckpointHead head = intake.head;
  checkpoint_intake_free(&intake);
  if (step != CHECKPOINT_WHOLE) return *why = "is damaged", 0;
  const size_t offset = size_t(head.bytes);
  if (offset > length) return *why = "stands for a longer board than this one", 0;
  bool readable;
  if (checkpoint_digest_file(*file, 0, offset, DIGEST_START, &readable) != head.history)
    return *why = readable ? "stands for another board" : "cannot be checked: the board file cannot be read", 0;
  const std::string png(reinterpret_cast<const char*>(payload + CHECKPOINT_HEAD_SIZE), head.png_length);
  if (!checkpoint_make(c, file, offset, head, png)) return *why = "cannot be kept", 0;
  return 1;
}
