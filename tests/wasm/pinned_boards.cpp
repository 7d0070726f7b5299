// The engine's pinned boards drawn wherever this is built: natively, and as
// WebAssembly under node. Every tool's command of the decoding test, the
// paper, the board of easel-render's test on white and on paper, and the mixed
// history of the replay benchmark, each drawn the reference ways and the fast
// ways, must give the checksums the native engine gives; and the random
// drawings of the unit tests must give the same bits both ways. With --time N it
// prints the median time of N replays of the mixed history each way instead,
// and with --board FILE too of N replays of that board (a server's board
// file), each command drawn at once on one thread.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mixed_history.h"
#include "net/command_run.h"
#include "net/drawing_tools.h"
#include "net/layout.h"
#include "net/message.h"
#include "paint/canvas.h"
#include "paint/engine_paths.h"
#include "paint/pixel.h"
#include "paint/random.h"
#include "random_drawings.h"
#include "test_images.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes* b, int v) {
  b->push_back(static_cast<uint8_t>(v)), b->push_back(static_cast<uint8_t>(v >> 8));
}

// A frame: type, little-endian payload length, payload (fields, then points).
Bytes frame(int type, Bytes payload, std::vector<float> values = {}, Bytes points = {}) {
  for (float v : values) put16(&payload, static_cast<int>(std::min(v, 400.0f) * 65.535));
  payload.insert(payload.end(), points.begin(), points.end());
  Bytes f = {static_cast<uint8_t>(type)};
  put16(&f, static_cast<int>(payload.size()));
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

Bytes wave(int n, int x0, int y0, int dx, int amp) {
  Bytes points;
  for (int i = 0; i < n; ++i) put16(&points, x0 + i * dx), put16(&points, y0 + (i * 37) % (2 * amp) - amp);
  return points;
}

// The board of tests/e2e/test_easel_render.py: every tool, a login reply, a
// chat line, an unknown frame and a stroke without a whole point.
Bytes render_board() {
  const Bytes frames[] = {frame(6, {1, 'A', 'n', 'n', 0}),
                          frame(0, {1, 200, 30, 30}, {}, wave(30, 60, 80, 12, 20)),
                          frame(1, {2, 0xD2, 4, 0, 0, 20, 20, 160}, {6}, wave(40, 80, 200, 10, 15)),
                          frame(2, {0, 99, 0, 0, 0, 10, 140, 40}, {9, 120}, wave(50, 100, 330, 9, 25)),
                          frame(3, {0, 0, 0, 0, 0, 250, 200, 0}, {10}, wave(35, 120, 470, 11, 30)),
                          frame(4, {0}, {11, 700}, wave(60, 70, 90, 8, 90)),
                          frame(12, {0, 90, 0, 120}, {6.5f, 40}, wave(45, 150, 600, 13, 10)),
                          frame(5, {0, 'h', 'e', 'l', 'l', 'o', 0}),
                          frame(13, {1, 2, 3, 4, 5}),
                          frame(0, {0, 1, 2, 3, 1, 0, 2})};
  Bytes board;
  for (const Bytes& f : frames) board.insert(board.end(), f.begin(), f.end());
  return board;
}

// A canvas-sized picture: the paper, or white.
Image* canvas(bool paper) {
  Image* image = testsupport::make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 255, 255, 255);
  if (paper) paintPaper(image);
  return image;
}

uint64_t checksum_and_free(Image* image) {
  const uint64_t sum = testsupport::image_checksum(image);
  testsupport::free_image(image);
  return sum;
}

// Each tool's command of CommandDecoding.PinnedPicturesOfAppliedCommands, on the pattern.
void tool_checksums(uint64_t sums[DRAWING_TYPE_COUNT]) {
  random_reset();
  seedRandom(99);
  std::vector<int16_t> xs, ys;
  for (int i = 0; i < 40; ++i) xs.push_back(int16_t(200 + i * 9)), ys.push_back(int16_t(300 + (i * 37) % 50 - 25 + i * 2));
  const float values[DRAWING_TYPE_COUNT][2] = {{0, 0}, {6.3f, 0}, {7.1f, 450}, {9.9f, 0}, {10.4f, 900}, {4.4f, 33.3f}};
  for (int i = 0; i < DRAWING_TYPE_COUNT; ++i) {
    Image* image = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
    Message m;
    encode_command(&m, DRAWING_TOOLS[i].layout, 0, 200.7f, 30.2f, 90.9f, values[i][0], values[i][1], xs.data(), ys.data(),
                   xs.size());
    apply_command(image, &m);
    message_free(&m);
    sums[i] = checksum_and_free(image);
    useCommandStream(i + 1);
    nextRandom();
    useLocalStream();
  }
}

// Milliseconds to draw the history one command at a time onto the paper.
double replay(std::vector<Message>& history, uint64_t* sum) {
  Image* image = canvas(true);
  const auto start = std::chrono::steady_clock::now();
  for (Message& m : history) apply_command(image, &m);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  *sum = checksum_and_free(image);
  return took.count();
}

// The frames of a board file as messages; false when it cannot be read whole.
bool read_board(const char* path, std::vector<Message>* board) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  Bytes bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  for (size_t at = 0, size; at < bytes.size(); at += size) {
    Message m;
    size = frame_complete_size(bytes.data() + at, bytes.size() - at);
    if (!size || !message_from_frame(&m, bytes.data() + at)) return false;
    board->push_back(m);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int times = argc >= 3 && std::strcmp(argv[1], "--time") == 0 ? std::atoi(argv[2]) : 0;
  random_reset();
  std::vector<Message> history, board_file;
  make_mixed_history(&history);
  const char* const way_names[2] = {"reference", "fast"};
  uint64_t sum;
  if (times > 0) {
    const char* board_path = argc == 5 && std::strcmp(argv[3], "--board") == 0 ? argv[4] : nullptr;
    if (board_path && !read_board(board_path, &board_file)) {
      std::fprintf(stderr, "pinned_boards: cannot read the board %s\n", board_path);
      return 2;
    }
    for (EnginePaths paths : {ENGINE_REFERENCE, ENGINE_FAST}) {
      engine_set_paths(paths);
      for (std::vector<Message>* replayed : {&history, &board_file}) {
        if (replayed->empty()) continue;
        std::vector<double> ms;
        for (int k = 0; k < times; ++k) ms.push_back(replay(*replayed, &sum));
        std::sort(ms.begin(), ms.end());
        std::printf("%s, %s ways: median %.1f ms of %d replays (checksum %llu)\n",
                    replayed == &history ? "mixed history" : "board", way_names[paths], ms[ms.size() / 2], times,
                    static_cast<unsigned long long>(sum));
      }
    }
    return 0;
  }
  // Pinned by CommandDecoding.PinnedPicturesOfAppliedCommands and Canvas.PinnedPaperOrTheBackgroundPicture;
  // the boards by the native engine.
  const uint64_t tools[DRAWING_TYPE_COUNT] = {10215594249608263506u, 11675846527322425530u, 1554560930144294040u,
                                              14245293229350981854u, 16750766415642245074u, 15112927743373243788u};
  const uint64_t paper = 13740167982285035807u, board_white = 5749327453132910825u, board_paper = 6839257717745959415u,
                 mixed = 843407586460515821u;
  const Bytes board = render_board();
  int passed = 0, failed = 0;
  auto check = [&](const char* what, int way, uint64_t want, uint64_t got) {
    const bool same = want == got;
    (same ? passed : failed) += 1;
    if (!same) std::printf("%s, %s ways: checksum %llu, pinned %llu\n", what, way_names[way],
                           static_cast<unsigned long long>(got), static_cast<unsigned long long>(want));
  };
  for (EnginePaths paths : {ENGINE_REFERENCE, ENGINE_FAST}) {
    engine_set_paths(paths);
    uint64_t sums[DRAWING_TYPE_COUNT];
    tool_checksums(sums);
    for (int i = 0; i < DRAWING_TYPE_COUNT; ++i) check(DRAWING_TOOLS[i].layout.tool, paths, tools[i], sums[i]);
    check("paper", paths, paper, checksum_and_free(canvas(true)));
    for (bool on_paper : {false, true}) {
      Image* image = canvas(on_paper);
      const bool whole = apply_frames(image, board.data(), board.size()) == board.size();
      check(on_paper ? "board on paper" : "board on white", paths, on_paper ? board_paper : board_white,
            whole ? checksum_and_free(image) : (testsupport::free_image(image), 0));
    }
    replay(history, &sum);
    check("mixed history", paths, mixed, sum);
  }
  for (Message& m : history) message_free(&m);
  const std::string differ = testsupport::random_drawings_differ();
  (differ.empty() ? passed : failed) += 1;
  if (!differ.empty()) std::printf("random drawings: %s differs between the ways\n", differ.c_str());
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
