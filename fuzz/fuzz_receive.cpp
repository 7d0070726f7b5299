// The client's receive path: arbitrary server bytes go through the whole network
// step, frame after frame until the server closes; after every frame LocalCanvas
// must be ServerCanvas with our pending commands (not chat lines) over it.
// Byte 0 picks our pending commands besides the login request; byte 1 how many
// messages fit in one clock second (low 4 bits) and whether points stay as they
// are (bit 7) rather than folded near the picture: far points only slow every
// run down (fuzz_apply_command covers them).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "headless_client.h"
#include "net_test_support.h"
#include "paint/bmp_file.h"
#include "ui/chat_input.h"

namespace {

Image paper;
Image scratch;
int home_dir = -1;  // where the fuzzer was started, for its own files
int listener = -1;  // the server's socket on 127.0.0.1
unsigned clock_calls;
unsigned calls_per_second;

time_t fuzz_clock() { return time_t(1700000000 + clock_calls++ / calls_per_second); }

void fold_points(uint8_t* stream, size_t length) {
  for (size_t at = 0; at + 3 <= length;) {
    size_t end = std::min(length, at + 3 + frame_payload_length(stream + at));
    if (const CommandLayout* layout = command_layout(stream[at]))
      for (size_t p = at + 3 + size_t(command_fixed_size(*layout)); p + 2 <= end; p += 2) {
        int v = int16_t(stream[p] | (stream[p + 1] << 8));
        v = (v % 1040 + 1040) % 1040 - 64;
        stream[p] = uint8_t(v & 0xFF);
        stream[p + 1] = uint8_t((v >> 8) & 0xFF);
      }
    at = end;
  }
}

// One of our commands on its way: a chat line, or a pen, brush or smudge stroke
// drawn into LocalCanvas, short as it is replayed whenever ServerCanvas changes.
void our_command(int kind) {
  if (kind == 3) return send_chat_line("pending line");
  static const int16_t xs[] = {100, 104, 109}, ys[] = {100, 103, 101};
  Message m;
  encode_command(&m, COMMAND_LAYOUTS[2 * kind], own_user_id, 200, 20, 20, 2, 60, xs, ys, 3);
  apply_command(&LocalCanvas, &m);
  if (link_submit(&m) != LINK_SENT) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) abort();
  set_color_depth(32);
  uint16_t port;
  listener = nettest::listen_on_loopback(&port, 1);
  strcpy(config.server_name, "127.0.0.1");
  config.server_port = port;
  strcpy(config.user_name, "Ann");
  if (!client_world_open(800, 600)) abort();
  if (!image_create(&scratch, CANVAS_WIDTH, CANVAS_HEIGHT) || !image_create(&paper, CANVAS_WIDTH, CANVAS_HEIGHT))
    abort();
  resetCanvas(&paper);
  home_dir = open(".", O_RDONLY | O_DIRECTORY);
  if (home_dir < 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Login replies and restarts reset ServerCanvas, and weaving the paper or
  // reading a whole picture would take most of every run: the run works in a
  // directory whose "bg.bmp" is a corner of the paper (the rest of a canvas
  // stays as it was, which the check does not mind), made and removed each
  // time (libFuzzer may exit without exit handlers).
  char dir[64];
  snprintf(dir, sizeof dir, "%s/easel-fuzz-receive-XXXXXX",
           access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  if (!mkdtemp(dir) || chdir(dir) != 0) abort();
  const Image corner = image_part(&paper, 0, 0, 8, 8);
  if (!bmp_save(&corner, "bg.bmp")) abort();
  client_state_reset();
  net_available = true;
  clock_calls = 0;
  calls_per_second = 1 + (data[1] & 15);
  session_set_clock(fuzz_clock);
  image_copy_all(&paper, &ServerCanvas);
  image_copy_all(&paper, &LocalCanvas);

  connect_and_login();
  const int peer = accept(listener, nullptr, nullptr);
  if (!connected || peer < 0) abort();
  for (int i = 0; i < (data[0] & 3); ++i) our_command((data[0] >> (2 + 2 * i)) & 3);

  // The whole stream is written at once, then the server stops sending (it
  // still takes what we send, so our sends do not end the connection first).
  std::vector<uint8_t> stream(data + 2, data + size);
  if (!(data[1] & 0x80)) fold_points(stream.data(), stream.size());
  if (!stream.empty() && write(peer, stream.data(), stream.size()) != ssize_t(stream.size()))
    abort();
  shutdown(peer, SHUT_WR);
  for (int frame = 0; connected && frame < 256; ++frame) {
    client_frame(FrameInput{});
    if (!testsupport::local_canvas_consistent(&scratch)) abort();
  }
  if (connected) abort();  // the end of the stream must be noticed
  close(peer);
  session_reset();
  if (unlink("bg.bmp") != 0 || fchdir(home_dir) != 0 || rmdir(dir) != 0) abort();
  return 0;
}
