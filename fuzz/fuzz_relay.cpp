// The server's handling of one connection's arbitrary byte stream, without
// sockets. A second user, logged in first, watches what is relayed: whatever
// the stream holds, every frame queued for either user is whole, and every
// drawing command relayed to the watcher is one our client could have built.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "board.h"
#include "net/message.h"
#include "relay.h"
#include "rules.h"
#include "scratch_dir.h"

namespace {

// Every frame queued in memory for c is whole (a board range streamed from the
// file is skipped), and when asked every drawing among them is valid.
void check_queued(const Client* c, bool drawing_must_be_valid) {
  std::vector<uint8_t> stream;
  for (const OutputChunk& chunk : c->output.chunks)
    if (!chunk.file) stream.insert(stream.end(), chunk.bytes.begin() + long(chunk.offset), chunk.bytes.end());
  for (size_t at = 0, size; at < stream.size(); at += size) {
    size = frame_complete_size(&stream[at], stream.size() - at);
    if (size == 0) abort();
    if (drawing_must_be_valid && is_drawing_type(stream[at]) &&
        !validate_drawing(stream[at], &stream[at + 3], size - 3))
      abort();
  }
}

sockaddr_storage loopback(const char* address) {
  sockaddr_storage a = {};
  a.ss_family = AF_INET;
  inet_pton(AF_INET, address, &reinterpret_cast<sockaddr_in*>(&a)->sin_addr);
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A directory per run, removed at its end: libFuzzer may end the process
  // without running exit handlers.
  const std::string dir = fuzz_scratch_dir("fuzz-relay");

  ServerOptions options;
  options.board_path = dir + "/board.easel";
  options.motd_password = "fuzz";
  options.max_pending_output = 64 << 10;
  Board board;
  if (!board_open(&board, options.board_path, false)) abort();
  Relay relay;
  relay_init(&relay, &options, &board);

  Client watcher;
  watcher.serial = 1;
  std::string reason;
  if (!relay_admit(&relay, &watcher, loopback("127.0.0.3"), 0, &reason)) abort();
  const uint8_t login[] = {MSG_LOGIN, 8, 0, 9, 0, 0, 0, 'w', 'a', 't', 0};
  watcher.input.assign(login, login + sizeof login);
  if (relay_take_input(&relay, &watcher, 0, &reason) != INPUT_WAITING) abort();

  // The first byte cuts the stream into pieces, as the network might.
  Client fuzzed;
  fuzzed.serial = 2;
  if (!relay_admit(&relay, &fuzzed, loopback("127.0.0.2"), 0, &reason)) abort();
  size_t piece = 1 + data[0] % 64;
  double now = 0;
  for (size_t at = 1; at < size;) {
    size_t n = std::min(piece, size - at);
    fuzzed.input.insert(fuzzed.input.end(), data + at, data + at + n);
    at += n;
    now += 0.001;
    InputResult result = relay_take_input(&relay, &fuzzed, now, &reason);
    // Held back by the rate limit: time passes, the rest is read later (a
    // limit that never lifts hangs the run, which the fuzzer reports).
    while (result == INPUT_LIMITED) result = relay_take_input(&relay, &fuzzed, now += 1, &reason);
    if (result == INPUT_REFUSED) break;
  }

  check_queued(&fuzzed, false);
  check_queued(&watcher, true);
  relay_close(&relay, &fuzzed);
  relay_close(&relay, &watcher);
  board_close(&board);
  unlink(options.board_path.c_str());
  unlink(relay.motd_path.c_str());
  if (rmdir(dir.c_str()) != 0) abort();  // nothing else may be left behind
  return 0;
}
