// The relay driven without sockets: byte streams cut anywhere give the same
// result, and no stream of bytes breaks the acknowledgement count.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "board.h"
#include "harness.h"
#include "relay.h"

struct RelayFixture {
  std::string dir;
  ServerOptions options;
  Board board;
  Relay relay;
  std::vector<std::unique_ptr<Client>> clients;

  RelayFixture() {
    char pattern[] = "/tmp/easel-relay-test-XXXXXX";
    dir = mkdtemp(pattern);
    options.board_path = dir + "/board.easel";
    options.rate = 0;
    options.draw_rate = 0;
    board_open(&board, options.board_path, false);
    relay_init(&relay, &options, &board);
  }
  ~RelayFixture() {
    board_close(&board);
    unlink(options.board_path.c_str());
    if (rmdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir;
  }
  Client* connect(const Bytes& first = {}) {
    clients.emplace_back(new Client);
    clients.back()->serial = unsigned(clients.size());
    if (!first.empty()) feed(clients.back().get(), first);
    return clients.back().get();
  }
  InputResult feed(Client* c, const Bytes& bytes) {
    c->input.insert(c->input.end(), bytes.begin(), bytes.end());
    std::string reason;
    InputResult result = relay_take_input(&relay, c, 0, false, &reason);
    if (result == INPUT_REFUSED) relay_leave(&relay, c);
    return result;
  }
};

// Everything queued in memory for c (a board streamed from the file is skipped).
static Bytes queued(const Client* c) {
  Bytes out;
  for (const OutputChunk& chunk : c->output.chunks)
    if (!chunk.file) out.insert(out.end(), chunk.bytes.begin() + long(chunk.offset), chunk.bytes.end());
  return out;
}

// Frames of the stream of one of the types; with `author`, only those whose first byte it is.
static size_t count_frames(const Bytes& stream, std::initializer_list<int> types, int author = -1) {
  size_t n = 0;
  for (size_t at = 0; at + 3 <= stream.size(); at += 3 + (stream[at + 1] | (stream[at + 2] << 8)))
    for (int type : types)
      n += stream[at] == type && (author < 0 || (at + 3 < stream.size() && stream[at + 3] == author));
  return n;
}

static Bytes session_stream(unsigned seed) {
  srand(seed);
  std::vector<Bytes> parts = {login_frame("cut")};
  for (int i = 0; i < 40; i++) {
    int kind = rand() % 4;
    parts.push_back(kind == 0   ? pen_frame(0, 1 + rand() % 255)
                    : kind == 1 ? brush_frame(0, 1 + rand() % 255, unsigned(rand()))
                    : kind == 2 ? chat_frame(0, std::string(size_t(rand() % 512), 'c'))
                                : frame_bytes(10, {uint8_t(rand() % 3)}));
  }
  return concat(parts);
}

// Valid sessions, and the same with random bytes changed, dropped or inserted,
// fed whole and cut anywhere.
TEST(RelayInProcess, AStreamCutAnywhereGivesTheSameOutputAndAnAcknowledgementPerKeptCommand) {
  srand(7);
  for (int round = 0; round < 150; round++) {
    Bytes stream = session_stream(unsigned(round));
    for (int e = 0, edits = round < 20 ? 0 : 1 + rand() % 4; e < edits && !stream.empty(); e++) {
      size_t at = size_t(rand()) % stream.size();
      int how = rand() % 3;
      if (how == 0) stream[at] = uint8_t(rand());
      if (how == 1) stream.erase(stream.begin() + long(at));
      if (how == 2) stream.insert(stream.begin() + long(at), uint8_t(rand()));
    }
    RelayFixture whole, cut;
    Client* watcher = whole.connect(login_frame("watcher"));
    Client* watcher_c = cut.connect(login_frame("watcher"));
    Client* w = whole.connect();
    Client* c = cut.connect();
    InputResult result = whole.feed(w, stream);
    ASSERT_TRUE(round >= 20 || result == INPUT_WAITING) << round;
    InputResult cut_result = INPUT_WAITING;
    for (size_t at = 0, piece; at < stream.size() && cut_result != INPUT_REFUSED; at += piece) {
      piece = std::min(stream.size() - at, size_t(1 + rand() % 700));
      cut_result = cut.feed(c, Bytes(stream.begin() + long(at), stream.begin() + long(at + piece)));
    }
    Bytes out = queued(w), seen = queued(watcher);
    EXPECT_EQ(out, queued(c)) << round;
    EXPECT_EQ(seen, queued(watcher_c)) << round;
    ASSERT_TRUE(board_flush(&whole.board) && board_flush(&cut.board));
    EXPECT_EQ(whole.board.written, cut.board.written) << round;
    if (w->state == CLIENT_LOGIN) {
      EXPECT_TRUE(out.empty()) << round;
      continue;
    }
    // Every acknowledgement answers the login, one stored stroke or one relayed
    // chat line (kick votes are not acknowledged); the watcher saw exactly those.
    size_t relayed = count_frames(seen, {0, 1, 2, 3, 4, 5, 12});
    EXPECT_EQ(count_frames(out, {255}), 1 + relayed - count_frames(seen, {5}, 0)) << round;
    EXPECT_EQ(whole.board.commands, relayed - count_frames(seen, {5})) << round;
    EXPECT_TRUE(round >= 20 || count_frames(out, {255}) == 1 + count_frames(stream, {0, 2, 5}));
  }
}
