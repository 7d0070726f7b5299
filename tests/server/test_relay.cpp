// The relay driven without sockets: byte streams cut anywhere give the same
// result, and no stream of bytes breaks the acknowledgement count.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

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
  Client* connect() {
    clients.emplace_back(new Client);
    clients.back()->serial = unsigned(clients.size());
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
    if (!chunk.file)
      out.insert(out.end(), chunk.bytes.begin() + long(chunk.offset), chunk.bytes.end());
  return out;
}

static size_t count_frames(const Bytes& stream, int type) {
  size_t n = 0;
  for (size_t at = 0; at + 3 <= stream.size(); at += 3 + (stream[at + 1] | (stream[at + 2] << 8)))
    if (stream[at] == type) n++;
  return n;
}

static Bytes session_stream(unsigned seed) {
  srand(seed);
  std::vector<Bytes> parts = {login_frame("cut")};
  for (int i = 0; i < 40; i++) {
    switch (rand() % 4) {
      case 0:
        parts.push_back(pen_frame(0, 1 + rand() % 255));
        break;
      case 1:
        parts.push_back(brush_frame(0, 1 + rand() % 255, unsigned(rand())));
        break;
      case 2:
        parts.push_back(chat_frame(0, std::string(size_t(rand() % 512), 'c')));
        break;
      default:
        parts.push_back(frame_bytes(10, {uint8_t(rand() % 3)}));
        break;
    }
  }
  return concat(parts);
}

TEST(RelayInProcess, AStreamCutAnywhereGivesTheSameOutput) {
  for (unsigned seed = 1; seed <= 20; seed++) {
    Bytes stream = session_stream(seed);
    RelayFixture whole, cut;
    Client* w = whole.connect();
    Client* watcher_w = whole.connect();
    Client* c = cut.connect();
    Client* watcher_c = cut.connect();
    whole.feed(watcher_w, login_frame("watcher"));
    cut.feed(watcher_c, login_frame("watcher"));
    ASSERT_EQ(whole.feed(w, stream), INPUT_WAITING);
    size_t at = 0;
    while (at < stream.size()) {
      size_t piece = std::min(stream.size() - at, size_t(1 + rand() % 700));
      ASSERT_EQ(cut.feed(c, Bytes(stream.begin() + long(at), stream.begin() + long(at + piece))),
                INPUT_WAITING);
      at += piece;
    }
    EXPECT_EQ(queued(w), queued(c)) << seed;
    EXPECT_EQ(queued(watcher_w), queued(watcher_c)) << seed;
    ASSERT_TRUE(board_flush(&whole.board) && board_flush(&cut.board));
    EXPECT_EQ(whole.board.written, cut.board.written);
    // Login, strokes and chat lines are acknowledged; kick votes are not.
    EXPECT_EQ(count_frames(queued(w), 255),
              1 + count_frames(stream, 0) + count_frames(stream, 2) + count_frames(stream, 5));
  }
}

TEST(RelayInProcess, NoByteStreamBreaksTheAcknowledgementCount) {
  srand(7);
  for (int round = 0; round < 400; round++) {
    RelayFixture f;
    Client* watcher = f.connect();
    f.feed(watcher, login_frame("watcher"));
    Client* c = f.connect();
    // A valid session with random bytes changed, dropped or inserted.
    Bytes stream = session_stream(unsigned(round));
    int edits = 1 + rand() % 4;
    for (int e = 0; e < edits && !stream.empty(); e++) {
      size_t at = size_t(rand()) % stream.size();
      switch (rand() % 3) {
        case 0:
          stream[at] = uint8_t(rand());
          break;
        case 1:
          stream.erase(stream.begin() + long(at));
          break;
        default:
          stream.insert(stream.begin() + long(at), uint8_t(rand()));
          break;
      }
    }
    InputResult result = f.feed(c, stream);
    Bytes out = queued(c);
    if (c->state == CLIENT_LOGIN) {
      EXPECT_TRUE(out.empty());
      continue;
    }
    // Every acknowledgement answers one stored stroke or one relayed chat line
    // (plus the login); the watcher saw exactly those.
    Bytes seen = queued(watcher);
    size_t relayed = 0;
    for (int type : {0, 1, 2, 3, 4, 5, 12}) relayed += count_frames(seen, type);
    size_t chat_from_server = 0;
    for (size_t at = 0; at + 3 <= seen.size(); at += 3 + (seen[at + 1] | (seen[at + 2] << 8)))
      if (seen[at] == 5 && seen[at + 3] == 0) chat_from_server++;
    EXPECT_EQ(count_frames(out, 255), 1 + relayed - chat_from_server) << round;
    EXPECT_EQ(f.board.commands, relayed - count_frames(seen, 5)) << round;
    (void)result;
  }
}
