// A browser's WebSocket messages into the server, without sockets: each
// message is checked as the web side checks it and, when it passes, handed to
// the relay as the bridge does; the relay's output then goes back out through
// the web side's batching, cut wherever the reads may cut it. Whatever the
// messages hold: a refused one has its close code and nothing of it reaches
// the relay; a passed one leaves no partial frame behind in the relay; every
// message to a browser is whole frames within the bound, and together they are
// exactly the relay's bytes; every drawing relayed is one our client could build.
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "board.h"
#include "net/message.h"
#include "net/wire_limits.h"
#include "relay.h"
#include "rules.h"
#include "scratch_dir.h"
#include "web/socket_frames.h"

namespace {

sockaddr_storage loopback(const char* address) {
  sockaddr_storage a = {};
  a.ss_family = AF_INET;
  inet_pton(AF_INET, address, &reinterpret_cast<sockaddr_in*>(&a)->sin_addr);
  return a;
}

// The relay's bytes for c as the browser receives them, read `step` bytes at a
// time at most (step changes with every read).
void check_batches(const Client* c, uint32_t step, bool drawing_must_be_valid) {
  std::vector<uint8_t> stream, received;
  for (const OutputChunk& chunk : c->output.chunks)
    if (!chunk.file) stream.insert(stream.end(), chunk.bytes.begin() + long(chunk.offset), chunk.bytes.end());
  FrameBatcher b;
  for (size_t at = 0; at < stream.size() || b.used > 0;) {
    size_t room;
    uint8_t* space = batcher_space(&b, &room);
    size_t n = std::min({room, stream.size() - at, size_t(1 + step % 70000)});
    std::copy(stream.begin() + long(at), stream.begin() + long(at + n), space);
    batcher_filled(&b, n);
    at += n;
    step = step * 1103515245u + 12345u;
    size_t length = batcher_take(&b);
    if (length > SOCKET_OUTPUT_MAX || (n == 0 && length == 0)) abort();  // stuck on a partial frame
    for (size_t f = 0, size; f < length; f += size) {
      size = frame_complete_size(&b.bytes[f], length - f);
      if (size == 0) abort();
      if (drawing_must_be_valid && is_drawing_type(b.bytes[f]) &&
          !validate_drawing(b.bytes[f], &b.bytes[f + 3], size - 3))
        abort();
    }
    received.insert(received.end(), b.bytes.begin(), b.bytes.begin() + long(length));
    batcher_sent(&b);
  }
  if (received != stream) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const std::string dir = fuzz_scratch_dir("fuzz-socket");
  ServerOptions options;
  options.board_path = dir + "/board.easel";
  options.max_pending_output = 64 << 10;
  Board board;
  if (!board_open(&board, options.board_path, false)) abort();
  Relay relay;
  relay_init(&relay, &options, &board);

  std::string reason;
  Client watcher, browser;
  watcher.serial = 1;
  browser.serial = 2;
  if (!relay_admit(&relay, &watcher, loopback("127.0.0.3"), 0, &reason)) abort();
  const uint8_t login[] = {MSG_LOGIN, 8, 0, 9, 0, 0, 0, 'w', 'a', 't', 0};
  watcher.input.assign(login, login + sizeof login);
  if (relay_take_input(&relay, &watcher, 0, &reason) != INPUT_WAITING) abort();
  if (!relay_admit(&relay, &browser, loopback("127.0.0.2"), 0, &reason)) abort();

  // The input: the reads' step, then messages, each a flag byte (bit 0: binary),
  // a 16-bit length and that many bytes (fewer at the end).
  uint32_t step = data[0] | (data[1] << 8);
  double now = 0;
  for (size_t at = 2; at + 3 <= size;) {
    bool binary = data[at] & 1;
    size_t length = std::min(size_t(data[at + 1] | (data[at + 2] << 8)), size - at - 3);
    const uint8_t* message = data + at + 3;
    at += 3 + length;
    int code = socket_message_check(binary, message, length);
    if (code != 0) {
      if (code != (!binary ? CLOSE_NOT_BINARY : length > MAX_SOCKET_MESSAGE ? CLOSE_TOO_BIG : CLOSE_BAD_FRAMES))
        abort();
      break;
    }
    browser.input.insert(browser.input.end(), message, message + length);
    InputResult result = relay_take_input(&relay, &browser, now += 0.001, &reason);
    while (result == INPUT_LIMITED) result = relay_take_input(&relay, &browser, now += 1, &reason);
    if (result == INPUT_REFUSED) break;
    bool reading = browser.state == CLIENT_LOGIN || browser.state == CLIENT_ACTIVE;
    if (reading && !browser.input.empty()) abort();  // whole frames leave nothing behind
  }

  check_batches(&browser, step, false);
  check_batches(&watcher, step >> 3, true);
  relay_close(&relay, &browser);
  relay_close(&relay, &watcher);
  board_close(&board);
  unlink(options.board_path.c_str());
  unlink(relay.motd_path.c_str());
  if (rmdir(dir.c_str()) != 0) abort();
  return 0;
}
