// The board file: kept across clean and violent restarts, repaired at start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "net/checkpoint.h"
#include "net/command_run.h"
#include "paint/canvas.h"

// A kill -9 loses no command that was acknowledged; an interrupt stops a
// server that syncs its writes cleanly with the board whole.
TEST(Persistence, AcknowledgedCommandsSurviveAKillNineAndAnInterruptStopsCleanly) {
  TestServer server;
  ASSERT_TRUE(server.start({"--rate", "0"}));
  Clients a = logged_in(server, 1);
  std::vector<Bytes> sent;
  for (int i = 0; i < 3000; i++)
    sent.push_back(i % 2 ? pen_frame(1, 1 + i % 200, i % 500, i % 300) : brush_frame(1, 1 + i % 200, uint32_t(i)));
  a[0]->send(concat(sent));
  size_t acknowledged = 0;
  for (; acknowledged < 300; acknowledged++) ASSERT_EQ(a[0]->read_frame().type, 255);
  EXPECT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
  // Acknowledgements already on their way count too.
  while (a[0]->read_frame(1).type == 255) acknowledged++;
  ASSERT_TRUE(server.start({"--sync"}));
  std::vector<Bytes> board = seen_by_new_user(server.port);
  ASSERT_GE(board.size(), acknowledged);
  ASSERT_LE(board.size(), sent.size());
  for (size_t i = 0; i < board.size(); i++) ASSERT_EQ(board[i], sent[i]) << i;
  EXPECT_EQ(server.stop(SIGINT), 0);
  EXPECT_NE(server.log().find("stopped"), std::string::npos);
  EXPECT_EQ(server.board_file(), concat(board));
}

// The damaged board of b.easel is copied aside as b-damaged-<time>.easel.
TEST(Persistence, ATornEndIsCutOffAndADamagedBoardIsCopiedAsideKeepingItsGoodStart) {
  Bytes one = pen_frame(1, 3), two = brush_frame(2, 4, 99), three = pen_frame(3, 5);
  const std::tuple<Bytes, const char*, Bytes> cases[] = {
      {concat({one, two, Bytes(three.begin(), three.begin() + 7)}),
       "ends in a torn frame; its 7 bytes are dropped", concat({one, two})},
      {concat({one, chat_frame(1, "not a drawing"), three}), "is damaged at byte 19", one}};
  for (const auto& [file, warning, kept] : cases) {
    TestServer server;
    server.board = server.dir + "/b.easel";
    server.write_board(file);
    ASSERT_TRUE(server.start());
    EXPECT_NE(server.log().find(warning), std::string::npos) << warning;
    EXPECT_EQ(server.board_file(), kept);
    std::vector<std::string> copies = server.files("b-damaged-");
    ASSERT_EQ(copies.size(), kept == one ? 1u : 0u);
    for (const std::string& copy : copies) EXPECT_EQ(server.file(copy), file);
    Clients a = logged_in(server, 1);
    a[0]->send(pen_frame(1, 2));
    ASSERT_EQ(a[0]->read_frame().type, 255);
    EXPECT_EQ(concat(seen_by_new_user(server.port)), concat({kept, pen_frame(1, 2)}));
  }
}

TEST(Persistence, NothingIsAcknowledgedOrRelayedWhileTheBoardCannotBeWritten) {
  TestServer server;
  server.file_size_limit = 2000;  // room for four of the strokes below
  ASSERT_TRUE(server.start());
  Clients u = logged_in(server, 2);
  std::vector<Bytes> sent;
  for (int i = 0; i < 10; i++) sent.push_back(pen_frame(2, 100, i, i));
  u[1]->send(concat(sent));
  ASSERT_TRUE(server.wait_for_log("error: cannot write the board file"));
  // Whatever was acknowledged is whole in the file; then nothing more comes.
  size_t acknowledged = 0;
  while (u[1]->read_frame(0.5).type == 255) acknowledged++;
  EXPECT_LE(acknowledged, 4u);
  EXPECT_EQ(server.board_file().size(), 2000u);
  rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
  ASSERT_EQ(prlimit(server.pid, RLIMIT_FSIZE, &unlimited, nullptr), 0);
  for (; acknowledged < 10; acknowledged++) ASSERT_EQ(u[1]->read_frame().type, 255) << acknowledged;
  EXPECT_TRUE(server.wait_for_log("is written again"));
  EXPECT_EQ(server.board_file(), concat(sent));
  for (int i = 0; i < 10; i++) EXPECT_EQ(u[0]->read_frame().bytes(), sent[i]);
}

TEST(Persistence, ARestartByMajorityArchivesTheBoardAUserStillLoadingGetsAllOfIt) {
  TestServer server;
  std::vector<Bytes> board;
  for (int i = 0; i < 10000; i++) board.push_back(brush_frame(1 + i % 5, 255, uint32_t(i)));
  server.write_board(concat(board));
  ASSERT_TRUE(server.start());
  TestClient a(server.port), b(server.port);
  ASSERT_EQ(a.login("a").size(), 1 + board.size());
  ASSERT_EQ(b.login("b").size(), 1 + board.size());
  // Most of the 10 MB the slow user does not read yet are still in the file
  // (more than the socket buffers hold) when the others restart the board.
  TestClient slow(server.port);
  slow.send(login_frame("slow"));
  for (TestClient* c : {&a, &a, &b}) c->read_until(7);  // the joins of b and slow
  // A restart needs more than half of the users; it archives the board.
  const Bytes vote = {9, 1, 0, 1};
  a.send(concat({vote, vote}));
  ASSERT_EQ(a.read_frame().bytes(), chat_frame(0, "a voted to restart the board: 1 of 3 users."));
  b.send(vote);
  EXPECT_EQ(a.read_frame().bytes(), chat_frame(0, "You have already voted to restart the board: 1 of 3 users."));
  EXPECT_EQ(a.read_frame().bytes(), chat_frame(0, "b voted to restart the board: 2 of 3 users."));
  EXPECT_EQ(a.read_frame().bytes(), (Bytes{9, 0, 0}));
  EXPECT_TRUE(server.board_file().empty());
  std::vector<std::string> archives = server.files("board-");
  ASSERT_EQ(archives.size(), 1u);
  EXPECT_TRUE(server.file(archives[0]) == concat(board));
  EXPECT_EQ(slow.read_frame().type, 6);
  for (size_t i = 0; i < board.size(); i++) ASSERT_EQ(slow.read_frame().bytes(), board[i]) << i;
  EXPECT_EQ(slow.read_frame().type, 255);
  EXPECT_EQ(slow.read_frame().bytes(), chat_frame(0, "a voted to restart the board: 1 of 3 users."));
  EXPECT_EQ(slow.read_frame().bytes(), chat_frame(0, "b voted to restart the board: 2 of 3 users."));
  EXPECT_EQ(slow.read_frame().bytes(), (Bytes{9, 0, 0}));
  // The votes went with the board.
  slow.send(vote);
  EXPECT_EQ(slow.read_frame().bytes(), chat_frame(0, "slow voted to restart the board: 1 of 3 users."));
}

// A login that asks gets the painter's checkpoint (made once the board has
// grown by --checkpoint-every commands) and the commands after it, which
// give the whole history's picture; a login without the flag gets today's
// bytes, the whole board. The checkpoint kept beside the board is served at
// once after a restart, and a damaged one never; one that cannot be written
// is still served from memory, and no temporary file is left.
TEST(Persistence, ACheckpointAndTheCommandsAfterItGiveTheBoardAndADamagedOneIsNotServed) {
  TestServer server;
  Bytes board;
  for (int i = 0; i < 30; i++) board = concat({board, i % 2 ? pen_frame(1, 3 + i, 7 * i, 5 * i) : brush_frame(1, 9, i)});
  server.write_board(board);
  ASSERT_TRUE(server.start({"--checkpoint-every", "10"}));
  ASSERT_TRUE(server.wait_for_log("checkpoint of 30 commands", 60));
  Clients a = logged_in(server, 1);
  const Bytes more = pen_frame(1, 40, 300, 300);
  a[0]->send(more);
  ASSERT_EQ(a[0]->read_frame().type, 255);
  board = concat({board, more});
  Image paper = {}, truth = {}, shown = {};
  ASSERT_TRUE(image_create(&paper, CANVAS_WIDTH, CANVAS_HEIGHT) && image_create(&truth, CANVAS_WIDTH, CANVAS_HEIGHT) &&
              image_create(&shown, CANVAS_WIDTH, CANVAS_HEIGHT));
  paintPaper(&paper);
  image_copy_all(&paper, &truth);
  apply_frames(&truth, board.data(), board.size());
  auto join = [&server](bool asks) {
    Bytes request = login_frame("Cy");
    if (asks) request = frame_bytes(MSG_LOGIN, concat({Bytes(request.begin() + 3, request.end()), {LOGIN_TAKES_CHECKPOINT}}));
    TestClient fresh(server.port);
    fresh.send(request);
    return read_frames_until(&fresh, 255, 10);
  };
  auto picture_of = [](const std::vector<Frame>& frames, Image* out, size_t* commands) {
    CheckpointIntake in = {};
    int whole = 0;
    *commands = 0;
    for (const Frame& f : frames) {
      if (f.type == MSG_CHECKPOINT) {
        whole = checkpoint_take(&in, f.payload.data(), f.payload.size()) == CHECKPOINT_WHOLE && checkpoint_picture(&in, out);
      } else if (f.type != MSG_LOGIN) {
        const Bytes b = f.bytes();
        apply_frames(out, b.data(), b.size());
        ++*commands;
      }
    }
    checkpoint_intake_free(&in);
    return whole;
  };
  const bool takes[] = {true, true, false, true};
  const size_t tails[] = {1, 1, 31, 0};
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    std::vector<Frame> plain = join(false);
    ASSERT_FALSE(plain.empty());
    Bytes history;
    for (size_t i = 1; i < plain.size(); ++i) history = concat({history, plain[i].bytes()});
    EXPECT_EQ(history, board);  // today's bytes
    image_copy_all(&paper, &shown);
    size_t tail = 0;
    const bool took = picture_of(join(true), &shown, &tail);
    EXPECT_EQ(took, takes[round]);
    EXPECT_EQ(tail, tails[round]);
    EXPECT_EQ(image_digest(&shown), image_digest(&truth));
    if (round == 0) {
      // A restart: the checkpoint kept beside the board is served at once.
      ASSERT_EQ(server.stop(), 0);
      ASSERT_TRUE(server.start({"--checkpoint-every", "1000"}));
      EXPECT_TRUE(server.wait_for_log("checkpoint of 30 commands from"));
    } else if (round == 1) {
      ASSERT_EQ(server.stop(), 0);
      Bytes kept = server.file("board.easel.checkpoint");
      kept[kept.size() / 2] ^= 1;
      server.write_file("board.easel.checkpoint", kept);
      ASSERT_TRUE(server.start({"--checkpoint-every", "1000"}));
      EXPECT_TRUE(server.wait_for_log("board.easel.checkpoint is damaged: it is made anew"));
    } else if (round == 2) {
      ASSERT_EQ(server.stop(), 0);
      const std::string kept = server.dir + "/board.easel.checkpoint";
      ASSERT_EQ(unlink(kept.c_str()), 0);
      ASSERT_EQ(mkdir(kept.c_str(), 0700), 0);  // a checkpoint that cannot be written in its place
      server.write_file("board.easel.checkpoint/x", {1});
      ASSERT_TRUE(server.start({"--checkpoint-every", "10"}));
      EXPECT_TRUE(server.wait_for_log("error: cannot write the checkpoint", 60));
      EXPECT_TRUE(server.files("board.easel.checkpoint.").empty());
    }
  }
  for (Image* i : {&paper, &truth, &shown}) image_destroy(i);
}
