// The client's receive path: arbitrary bytes from the server go through
// message_receive and the whole dispatch of the network step, frame after frame
// until the server closes. After every frame LocalCanvas must be ServerCanvas
// with our pending commands (but chat lines) replayed over it.
//
// Byte 0 picks our pending commands besides the login request; byte 1 how many
// messages fit in one second of the clock (low 4 bits) and whether points are
// kept as they are (bit 7): otherwise they are folded into and around the
// picture, as far points only make every run slower (fuzz_apply_command covers them).
#include <allegro.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

#include "app/client.h"
#include "app/config.h"
#include "app/session.h"
#include "net/command.h"
#include "net/layout.h"
#include "net/message.h"
#include "paint/canvas.h"

namespace {

BITMAP* paper;
int home_dir = -1;  // where the fuzzer was started, for its own files
BITMAP* expected;
unsigned clock_calls;
unsigned calls_per_second;

time_t fuzz_clock() { return time_t(1700000000 + clock_calls++ / calls_per_second); }

bool same(BITMAP* a, BITMAP* b) {
  for (int y = 0; y < a->h; ++y)
    if (memcmp(a->line[y], b->line[y], size_t(a->w) * 4) != 0) return false;
  return true;
}

void check_invariant() {
  blit(ServerCanvas, expected, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  for (uint16_t i = 0; i < queue_count(&command_queue); ++i) {
    Message* m = queue_at(&command_queue, i);
    if (m->type != MSG_CHAT) apply_command(expected, m);
  }
  if (!same(expected, LocalCanvas)) abort();
}

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

// One of our commands on its way: drawn into LocalCanvas, sent and queued.
void our_command(int kind) {
  // Short and small: they are replayed after every frame that changes ServerCanvas.
  static const int16_t xs[] = {100, 104, 109}, ys[] = {100, 103, 101};
  Message m;
  switch (kind) {
    case 0: encode_pen(&m, own_user_id, 200, 20, 20, xs, ys, 3); break;
    case 1: encode_brush(&m, own_user_id, 20, 20, 200, 2, 60, xs, ys, 3); break;
    case 2: encode_smudge(&m, own_user_id, 2, 300, xs, ys, 3); break;
    default:
      message_init(&m, MSG_CHAT);
      message_put_byte(&m, own_user_id);
      message_put_string(&m, "pending line");
      break;
  }
  if (m.type != MSG_CHAT) apply_command(LocalCanvas, &m);
  if (link_submit(&m) != LINK_SENT) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) abort();
  set_color_depth(32);
  memset(&config, 0, sizeof config);
  strcpy(config.server_name, "127.0.0.1");
  config.server_port = 2020;
  strcpy(config.user_name, "Ann");
  if (!client_world_open(800, 600)) abort();
  expected = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  paper = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  resetCanvas(paper);
  home_dir = open(".", O_RDONLY | O_DIRECTORY);
  if (home_dir < 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Login replies and restarts reset ServerCanvas; generating the paper each
  // time would take most of every run, so during a run the working directory
  // is one of our own whose "bg.bmp" is that paper. It is made and removed
  // in every run: libFuzzer may end the process without exit handlers.
  char dir[64];
  snprintf(dir, sizeof dir, "%s/easel-fuzz-receive-XXXXXX",
           access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  if (!mkdtemp(dir) || chdir(dir) != 0) abort();
  if (save_bmp("bg.bmp", paper, nullptr) != 0) abort();
  client_state_reset();
  net_available = true;
  clock_calls = 0;
  calls_per_second = 1 + (data[1] & 15);
  session_set_clock(fuzz_clock);
  blit(paper, ServerCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  blit(paper, LocalCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);

  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) abort();
  server_connection = {};
  server_connection.socket_handle = ends[0];
  connected = true;
  Message login;
  message_init(&login, MSG_LOGIN);
  message_put_int(&login, LOGIN_CONSTANT);
  message_put_string(&login, config.user_name);
  if (link_submit(&login) != LINK_SENT) abort();
  for (int i = 0; i < (data[0] & 3); ++i) our_command((data[0] >> (2 + 2 * i)) & 3);

  // The whole stream is written at once, then the server stops sending (it
  // still takes what we send, so our sends do not end the connection first).
  size_t length = size - 2;
  std::vector<uint8_t> stream(data + 2, data + size);
  if (!(data[1] & 0x80)) fold_points(stream.data(), length);
  if (length && write(ends[1], stream.data(), length) != ssize_t(length)) abort();
  shutdown(ends[1], SHUT_WR);
  for (int frame = 0; connected && frame < 256; ++frame) {
    client_frame(FrameInput{});
    check_invariant();
  }
  if (connected) abort();  // the end of the stream must be noticed
  close(ends[1]);
  session_reset();
  if (unlink("bg.bmp") != 0 || fchdir(home_dir) != 0 || rmdir(dir) != 0) abort();
  return 0;
}
