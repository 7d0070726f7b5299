// Login, relay, acknowledgement order, votes and the message of the day, over
// real sockets against the real server.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "harness.h"

static const Bytes ACCEPTED = {0xFF, 0, 0};

TEST(Login, SequenceByteForByte) {
  TestServer server;
  // A board of two commands and a message of the day, left by an earlier run.
  Bytes stroke1 = pen_frame(7, 2), stroke2 = brush_frame(9, 3, 0xDEADBEEF);
  server.write_board(concat({stroke1, stroke2}));
  {
    std::ofstream motd(server.board + ".motd");
    motd << "Be nice";
  }
  ASSERT_TRUE(server.start());

  TestClient ann(server.port);
  ASSERT_TRUE(ann.send(login_frame("Ann")));
  Bytes expected = concat({{6, 6, 0, 1, 'A', 'n', 'n', 0, 0},
                           stroke1,
                           stroke2,
                           {5, 9, 0, 0, 'B', 'e', ' ', 'n', 'i', 'c', 'e', 0},
                           ACCEPTED});
  Bytes got;
  while (got.size() < expected.size()) {
    Frame f = ann.read_frame();
    ASSERT_GE(f.type, 0) << "after " << got.size() << " bytes";
    Bytes b = f.bytes();
    got.insert(got.end(), b.begin(), b.end());
  }
  EXPECT_EQ(got, expected);

  // A second user of the same name becomes Ann2 and sees Ann; Ann hears of Ann2.
  TestClient second(server.port);
  second.send(login_frame("ann"));
  Frame reply = second.read_frame();
  EXPECT_EQ(reply.bytes(), (Bytes{6, 12, 0, 2, 'a', 'n', 'n', '2', 0, 1, 'A', 'n', 'n', 0, 0}));
  EXPECT_EQ(ann.read_frame().bytes(), (Bytes{7, 6, 0, 2, 'a', 'n', 'n', '2', 0}));
}

TEST(Login, NamesAreCleanedAndMadeUnique) {
  TestServer server;
  ASSERT_TRUE(server.start());
  std::vector<std::unique_ptr<TestClient>> clients;
  auto name_of = [&](const std::string& wanted) {
    clients.emplace_back(new TestClient(server.port));
    std::vector<Frame> frames = clients.back()->login(wanted);
    const Bytes& p = frames[0].payload;
    return std::string(p.begin() + 1, std::find(p.begin() + 1, p.end(), 0));
  };
  EXPECT_EQ(name_of(""), "guest");
  EXPECT_EQ(name_of("  "), "guest2");
  EXPECT_EQ(name_of("GUEST"), "GUEST3");
  EXPECT_EQ(name_of("tab\there"), "tabhere");
  EXPECT_EQ(name_of("abcdefghijklmnopq"), "abcdefghijklmno");
  EXPECT_EQ(name_of("abcdefghijklmno"), "abcdefghijklmn2");
}

TEST(Login, LowestFreeIdAndUsersJoiningAndLeaving) {
  TestServer server;
  ASSERT_TRUE(server.start());
  int a_id, b_id, c_id, d_id;
  TestClient a(server.port);
  a.login("a", &a_id);
  auto b = std::make_unique<TestClient>(server.port);
  b->login("b", &b_id);
  TestClient c(server.port);
  c.login("c", &c_id);
  EXPECT_EQ(a_id, 1);
  EXPECT_EQ(b_id, 2);
  EXPECT_EQ(c_id, 3);
  b.reset();
  EXPECT_EQ(a.read_until(8)[0].type, 7);  // c joined, then b left
  Frame left = c.read_frame();
  EXPECT_EQ(left.bytes(), (Bytes{8, 1, 0, 2}));
  TestClient d(server.port);
  std::vector<Frame> frames = d.login("d", &d_id);
  EXPECT_EQ(d_id, 2);
  EXPECT_EQ(frames[0].bytes(), (Bytes{6, 10, 0, 2, 'd', 0, 1, 'a', 0, 3, 'c', 0, 0}));
}

TEST(Login, TheBoardHoldsAtMost128Users) {
  TestServer server;
  ASSERT_TRUE(server.start());
  std::vector<std::unique_ptr<TestClient>> clients;
  // All connect first and then log in: hundreds of connections at once.
  for (int i = 0; i < 200; i++) clients.emplace_back(new TestClient(server.port));
  for (int i = 0; i < 200; i++) clients[i]->send(login_frame("u" + std::to_string(i)));
  std::vector<int> ids;
  for (int i = 0; i < 128; i++) {
    Frame reply = clients[i]->read_frame();
    ASSERT_EQ(reply.type, 6) << i;
    ids.push_back(reply.payload[0]);
  }
  std::vector<int> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 128; i++) EXPECT_EQ(sorted[i], i + 1);
  for (int i = 128; i < 200; i++) {
    Frame refusal = clients[i]->read_frame();
    EXPECT_EQ(refusal.bytes(),
              chat_frame(0, "Sorry, the board is full (128 users). Try again later."))
        << i;
    EXPECT_TRUE(clients[i]->closed_within()) << i;
  }
  clients[40].reset();  // its id is free again: the next user takes it
  ASSERT_TRUE(server.wait_for_log("\"u40\" left"));
  TestClient late(server.port);
  int id = -1;
  late.login("late", &id);
  EXPECT_EQ(id, ids[40]);
}

// What the board must be, rebuilt from one user's stream: commands of others
// where they were relayed, our own where their acknowledgements came.
struct StreamView {
  std::vector<Bytes> own_sent;
  size_t acknowledged = 0;
  std::vector<Bytes> board;
};

TEST(Relay, EveryStreamAgreesWithTheBoardOrder) {
  TestServer server;
  ASSERT_TRUE(server.start());
  const int users = 4, strokes = 60;
  std::vector<std::unique_ptr<TestClient>> clients;
  std::vector<int> ids(users);
  for (int i = 0; i < users; i++) {
    clients.emplace_back(new TestClient(server.port));
    clients[i]->login("p" + std::to_string(i), &ids[i]);
  }
  // Every client sends its strokes in bursts, all interleaved on the server.
  // The user id written by the client is wrong on purpose: the server owns it.
  std::vector<StreamView> views(users);
  for (int round = 0; round < strokes / 10; round++)
    for (int i = 0; i < users; i++)
      for (int k = 0; k < 10; k++) {
        Bytes stroke = pen_frame(99, 1 + k, 10 * i, round, uint8_t(i * 50 + k));
        clients[i]->send(stroke);
        stroke[3] = uint8_t(ids[i]);
        views[i].own_sent.push_back(stroke);
      }
  for (int i = 0; i < users; i++) {
    while (views[i].acknowledged < size_t(strokes) ||
           views[i].board.size() < size_t(users * strokes)) {
      Frame f = clients[i]->read_frame();
      ASSERT_GE(f.type, 0) << "user " << i;
      if (f.type == 7 || f.type == 8) continue;
      if (f.type == 255) {
        views[i].board.push_back(views[i].own_sent[views[i].acknowledged++]);
      } else {
        ASSERT_EQ(f.type, 0);
        EXPECT_NE(f.payload[0], ids[i]) << "own command relayed back";
        views[i].board.push_back(f.bytes());
      }
    }
  }
  TestClient late(server.port);
  std::vector<Frame> frames = late.login("late");
  ASSERT_EQ(frames.size(), size_t(1 + users * strokes));
  std::vector<Bytes> board;
  for (size_t i = 1; i < frames.size(); i++) board.push_back(frames[i].bytes());
  for (int i = 0; i < users; i++) EXPECT_TRUE(views[i].board == board) << "user " << i;
  // And the file holds the same frames.
  EXPECT_EQ(server.board_file(), concat(board));
}

TEST(Relay, ChatLinesGoToOthersWithTheSendersIdAndAreAcknowledged) {
  TestServer server;
  ASSERT_TRUE(server.start());
  TestClient a(server.port), b(server.port);
  int a_id, b_id;
  a.login("a", &a_id);
  b.login("b", &b_id);
  a.read_frame();  // b joined
  b.send(chat_frame(a_id, "hello \x01there"));
  b.send(pen_frame(b_id, 3));
  b.send(chat_frame(0, std::string(511, 'z')));
  EXPECT_EQ(b.read_frame().bytes(), ACCEPTED);
  EXPECT_EQ(b.read_frame().bytes(), ACCEPTED);
  EXPECT_EQ(b.read_frame().bytes(), ACCEPTED);
  Frame chat = a.read_frame();
  EXPECT_EQ(chat.bytes(), chat_frame(b_id, "hello there"));
  EXPECT_EQ(a.read_frame().type, 0);
  EXPECT_EQ(a.read_frame().bytes(), chat_frame(b_id, std::string(511, 'z')));
  // Chat lines are not part of the board.
  EXPECT_EQ(server.board_file(), pen_frame(b_id, 3));
}

TEST(Votes, RestartNeedsMoreThanHalfAndKeepsTheOldBoard) {
  TestServer server;
  ASSERT_TRUE(server.start());
  TestClient a(server.port), b(server.port), c(server.port);
  a.login("a");
  b.login("b");
  c.login("c");
  a.read_until(7);
  a.read_until(7);
  b.read_until(7);
  a.send(pen_frame(1, 5));
  a.read_until(255);
  b.read_frame();
  c.read_frame();
  Bytes before = server.board_file();

  const Bytes vote = {9, 1, 0, 1};
  a.send(vote);
  for (TestClient* t : {&a, &b, &c})
    EXPECT_EQ(chat_text(t->read_frame()), "a voted to restart the board: 1 of 3 users.");
  a.send(vote);  // a second vote of the same user counts once
  EXPECT_EQ(chat_text(a.read_frame()),
            "You have already voted to restart the board: 1 of 3 users.");
  b.send(vote);
  for (TestClient* t : {&a, &b, &c}) {
    EXPECT_EQ(chat_text(t->read_frame()), "b voted to restart the board: 2 of 3 users.");
    EXPECT_EQ(t->read_frame().bytes(), (Bytes{9, 0, 0}));
  }
  EXPECT_TRUE(server.board_file().empty());
  int archives = 0;
  for (const std::string& name : server.files())
    if (name.rfind("board-", 0) == 0) {
      archives++;
      std::ifstream in(server.dir + "/" + name, std::ios::binary);
      Bytes old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(old, before);
    }
  EXPECT_EQ(archives, 1);
  // Votes were reset: one more vote is again 1 of 3.
  c.send(vote);
  EXPECT_EQ(chat_text(a.read_frame()), "c voted to restart the board: 1 of 3 users.");
  TestClient late(server.port);
  EXPECT_EQ(late.login("late").size(), 1u);  // the reply only: the board is empty
}

TEST(Votes, KickVotesReplaceEachOtherAndVanishWithTheirUser) {
  TestServer server;
  ASSERT_TRUE(server.start());
  std::vector<std::unique_ptr<TestClient>> u;
  for (int i = 0; i < 4; i++) {
    u.emplace_back(new TestClient(server.port));
    u[i]->login(std::string(1, char('a' + i)));
  }
  for (int i = 0; i < 4; i++)
    for (int j = i + 1; j < 4; j++) u[i]->read_frame();  // joins
  auto kick = [&](int voter, int target) { u[voter]->send({10, 1, 0, uint8_t(target)}); };
  auto everyone_hears = [&](const std::string& text) {
    for (auto& c : u) {
      if (!c) continue;
      EXPECT_EQ(c->read_frame().bytes(), chat_frame(0, text));
    }
  };
  kick(0, 2);  // a against b
  everyone_hears("a voted to kick b: 1 of 4 users.");
  kick(0, 3);  // a changes its mind: against c
  everyone_hears("a voted to kick c: 1 of 4 users.");
  kick(1, 3);  // b against c: 2 of 4 is not more than half
  everyone_hears("b voted to kick c: 2 of 4 users.");
  kick(3, 2);  // d against b: a's earlier vote against b is gone
  everyone_hears("d voted to kick b: 1 of 4 users.");
  kick(1, 77);
  EXPECT_EQ(chat_text(u[1]->read_frame()), "There is no user with the id 77.");
  kick(0, 3);
  EXPECT_EQ(chat_text(u[0]->read_frame()), "You have already voted to kick c: 2 of 4 users.");

  // d leaves: its vote against b vanishes, and 2 of the 3 left against c
  // is now a majority: c goes.
  u[3].reset();
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(u[i]->read_frame().bytes(), (Bytes{8, 1, 0, 4}));
    EXPECT_EQ(u[i]->read_frame().bytes(), (Bytes{8, 1, 0, 3}));
    EXPECT_EQ(chat_text(u[i]->read_frame()), "c has been kicked.");
  }
  EXPECT_EQ(u[2]->read_frame().bytes(), (Bytes{8, 1, 0, 4}));
  EXPECT_EQ(chat_text(u[2]->read_frame()), "You have been kicked from the board.");
  EXPECT_TRUE(u[2]->closed_within());
  // With two users left, one vote against b is not enough.
  kick(0, 2);
  EXPECT_EQ(chat_text(u[1]->read_frame()), "a voted to kick b: 1 of 2 users.");
  EXPECT_TRUE(server.wait_for_log("kick: 3 \"c\" is disconnected by vote"));
}

TEST(Motd, PasswordSetsItForLaterUsersAndItSurvivesARestart) {
  TestServer server;
  ASSERT_TRUE(server.start({"--motd-password", "sesame"}));
  TestClient a(server.port), b(server.port);
  a.login("a");
  b.login("b");
  a.read_frame();
  a.send(motd_frame("open", "Welcome"));
  EXPECT_EQ(chat_text(a.read_frame()), "Wrong password: the message of the day is unchanged.");
  a.send(motd_frame("sesame", "Welcome to the board"));
  Frame done = a.read_frame();
  EXPECT_EQ(done.bytes(), chat_frame(0, "The message of the day is set."));
  // Not acknowledged, and nothing reached the other user.
  b.send(chat_frame(0, "ping"));
  EXPECT_EQ(b.read_frame().bytes(), ACCEPTED);
  EXPECT_EQ(chat_text(a.read_frame()), "ping");

  auto motd_seen = [](int port) {
    TestClient c(port);
    std::vector<Frame> frames = c.login("c");
    return frames.size() == 2 ? frames[1].bytes() : Bytes();
  };
  EXPECT_EQ(motd_seen(server.port), chat_frame(0, "Welcome to the board"));
  EXPECT_EQ(server.stop(), 0);
  ASSERT_TRUE(server.start());  // no password this time
  EXPECT_EQ(motd_seen(server.port), chat_frame(0, "Welcome to the board"));
  TestClient d(server.port);
  d.login("d");
  d.send(motd_frame("sesame", "x"));
  EXPECT_EQ(chat_text(d.read_frame()), "This server has no password for the message of the day.");
}
