// Login, relay, acknowledgement order, chat, votes and the message of the
// day, over real sockets against the real server.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <unistd.h>

#include "harness.h"

static const Bytes ACCEPTED = {0xFF, 0, 0};

TEST(Login, ReplyBoardMotdAndAcceptanceByteForByteThenNamesCleanedAndMadeUnique) {
  TestServer server;
  Bytes stroke1 = pen_frame(7, 2), stroke2 = brush_frame(9, 3, 0xDEADBEEF);
  server.write_board(concat({stroke1, stroke2}));
  std::ofstream(server.board + ".motd") << "Be nice";
  ASSERT_TRUE(server.start());
  TestClient ann(server.port);
  ASSERT_TRUE(ann.send(login_frame("Ann")));
  Bytes expected = concat({{6, 6, 0, 1, 'A', 'n', 'n', 0, 0}, stroke1, stroke2,
                           {5, 9, 0, 0, 'B', 'e', ' ', 'n', 'i', 'c', 'e', 0}, ACCEPTED});
  Bytes got;
  for (Frame f; got.size() < expected.size() && (f = ann.read_frame()).type >= 0;) got = concat({got, f.bytes()});
  EXPECT_EQ(got, expected);
  // A second user of the same name becomes ann2 and sees Ann; Ann hears of ann2.
  TestClient second(server.port);
  second.send(login_frame("ann"));
  EXPECT_EQ(second.read_frame().bytes(),
            (Bytes{6, 12, 0, 2, 'a', 'n', 'n', '2', 0, 1, 'A', 'n', 'n', 0, 0}));
  EXPECT_EQ(ann.read_frame().bytes(), (Bytes{7, 6, 0, 2, 'a', 'n', 'n', '2', 0}));
  Clients clients;
  const std::pair<const char*, const char*> cases[] = {
      {"", "guest"},          {"  \t\n", "guest2"},  {"GUEST", "GUEST3"},
      {"a\tb\x01" "c\xff", "abc"}, {"  padded  ", "padded"},
      {"abcdefghijklmnopq", "abcdefghijklmno"}, {"abcdefghijklmno", "abcdefghijklmn2"},
      {"abcdefghijklmn pq", "abcdefghijklmn"}};  // no blank left at the cut
  for (auto [wanted, given] : cases) {
    clients.emplace_back(new TestClient(server.port));
    Bytes p = clients.back()->login(wanted)[0].payload;
    EXPECT_EQ(std::string(p.begin() + 1, std::find(p.begin() + 1, p.end(), 0)), given);
  }
}

TEST(Login, AtMost128UsersConnectingAtOnce) {
  TestServer server;
  ASSERT_TRUE(server.start());
  Clients clients;
  // All connect first and then log in: hundreds of connections at once.
  for (int i = 0; i < 200; i++) clients.emplace_back(new TestClient(server.port));
  for (int i = 0; i < 200; i++) clients[i]->send(login_frame("u" + std::to_string(i)));
  std::set<int> ids;
  for (int i = 0; i < 128; i++) {
    Frame reply = clients[i]->read_frame();
    ASSERT_EQ(reply.type, 6) << i;
    ids.insert(reply.payload[0]);
  }
  EXPECT_TRUE(ids.size() == 128 && *ids.begin() == 1 && *ids.rbegin() == 128);  // 1 to 128
  for (int i = 128; i < 200; i++) {
    EXPECT_EQ(clients[i]->read_frame().bytes(),
              chat_frame(0, "Sorry, the board is full (128 users). Try again later."));
    EXPECT_TRUE(clients[i]->closed_within()) << i;
  }
}

TEST(Relay, EveryUsersStreamAgreesWithTheBoardOrderAndTheFile) {
  TestServer server;
  ASSERT_TRUE(server.start());
  const int users = 4, strokes = 60;
  Clients c = logged_in(server, users);
  // Bursts of every user interleave on the server. The user id written by the
  // client is wrong on purpose: the server owns it.
  std::vector<std::vector<Bytes>> own(users), seen(users);
  for (int round = 0; round < strokes / 10; round++)
    for (int i = 0; i < users; i++)
      for (int k = 0; k < 10; k++) {
        Bytes stroke = pen_frame(99, 1 + k, 10 * i, round, uint8_t(i * 50 + k));
        c[i]->send(stroke);
        stroke[3] = uint8_t(i + 1);
        own[i].push_back(stroke);
      }
  // A user's view of the board: others' commands where relayed, its own where acknowledged.
  for (int i = 0; i < users; i++)
    for (size_t acknowledged = 0; acknowledged < own[i].size() || seen[i].size() < size_t(users * strokes);) {
      Frame f = c[i]->read_frame();
      ASSERT_TRUE(f.type == 0 || f.type == 255) << "user " << i << " got " << f.type;
      EXPECT_NE(f.type == 0 ? f.payload[0] : 0, i + 1) << "own command relayed back";
      seen[i].push_back(f.type == 255 ? own[i][acknowledged++] : f.bytes());
    }
  std::vector<Bytes> board = seen_by_new_user(server.port);
  ASSERT_EQ(board.size(), size_t(users * strokes));
  for (int i = 0; i < users; i++) EXPECT_TRUE(seen[i] == board) << "user " << i;
  EXPECT_EQ(server.board_file(), concat(board));
}

static Bytes motd_frame(const std::string& password, const std::string& text) {
  return frame_bytes(11, concat({text_bytes(password), text_bytes(text)}));
}

// Chat goes to the others, cleaned, under the sender's id, acknowledged and not
// stored; the message of the day is set by password (from the environment),
// unacknowledged, for later users only, and it survives a restart. After a
// wrong password the next one waits a second, then two, for the whole address.
TEST(Relay, ChatIsRelayedButNotStoredAndThePasswordSetsTheMotdForLaterUsers) {
  TestServer server;
  setenv("EASEL_MOTD_PASSWORD", "sesame", 1);
  ASSERT_TRUE(server.start());
  unsetenv("EASEL_MOTD_PASSWORD");
  {
    TestClient neighbour(server.port, "127.66.0.1"), guesser(server.port, "127.66.0.1");
    neighbour.login("n");
    guesser.login("g");
    neighbour.read_frame();  // g's join
    auto text = [](const Frame& f) { return std::string(f.payload.begin() + 1, f.payload.end() - 1); };
    guesser.send(motd_frame("open", "Welcome"));
    EXPECT_EQ(guesser.read_frame().bytes(), chat_frame(0, "Wrong password: the message of the day is unchanged."));
    neighbour.send(motd_frame("sesame", "Welcome to the board"));
    EXPECT_EQ(text(neighbour.read_frame()), "Too many wrong passwords: wait 1 s and try again.");
    usleep(1100000);  // the second it was told to wait
    guesser.send(motd_frame("wrong again", "x"));
    EXPECT_EQ(guesser.read_frame().bytes(), chat_frame(0, "Wrong password: the message of the day is unchanged."));
    guesser.send(motd_frame("sesame", "x"));
    EXPECT_EQ(text(guesser.read_frame()).rfind("Too many wrong passwords: wait ", 0), 0u);
  }
  EXPECT_TRUE(server.wait_for_log("\"g\" left") && server.wait_for_log("\"n\" left"));
  EXPECT_EQ(server.log().find("sesame"), std::string::npos);
  Clients u = logged_in(server, 2);
  u[0]->send(motd_frame("sesame", "Welcome to the board"));
  EXPECT_EQ(u[0]->read_frame().bytes(), chat_frame(0, "The message of the day is set."));
  u[1]->send(concat({chat_frame(1, "hello \x01there"), pen_frame(2, 3), chat_frame(0, std::string(511, 'z'))}));
  for (int i = 0; i < 3; i++) EXPECT_EQ(u[1]->read_frame().bytes(), ACCEPTED);
  // Nothing of the motd reached the other user: its next frame is b's chat line.
  EXPECT_EQ(u[0]->read_frame().bytes(), chat_frame(2, "hello there"));
  EXPECT_EQ(u[0]->read_frame().type, 0);
  EXPECT_EQ(u[0]->read_frame().bytes(), chat_frame(2, std::string(511, 'z')));
  const std::vector<Bytes> later = {pen_frame(2, 3), chat_frame(0, "Welcome to the board")};
  EXPECT_EQ(seen_by_new_user(server.port), later);
  u.clear();
  EXPECT_EQ(server.stop(), 0);
  ASSERT_TRUE(server.start());  // no password this time
  EXPECT_EQ(seen_by_new_user(server.port), later);
  TestClient d(server.port);
  d.login("d");
  d.send(motd_frame("sesame", "x"));
  EXPECT_EQ(d.read_frame().bytes(), chat_frame(0, "This server has no password for the message of the day."));
}

// Every one of the users reads the server's chat line `text` next.
static void everyone_hears(const Clients& u, const std::string& text) {
  for (auto& c : u) EXPECT_EQ(c->read_frame().bytes(), chat_frame(0, text));
}

TEST(Votes, KickVotesReplaceEachOtherAndVanishWithTheirUser) {
  TestServer server;
  ASSERT_TRUE(server.start());
  Clients u = logged_in(server, 4);
  auto kick = [&](int voter, int target) { u[voter]->send({10, 1, 0, uint8_t(target)}); };
  kick(0, 2);
  everyone_hears(u, "a voted to kick b: 1 of 4 users.");
  kick(0, 3);  // a changes its mind
  everyone_hears(u, "a voted to kick c: 1 of 4 users.");
  kick(1, 3);  // 2 of 4 is not more than half
  everyone_hears(u, "b voted to kick c: 2 of 4 users.");
  kick(3, 2);  // a's earlier vote against b is gone
  everyone_hears(u, "d voted to kick b: 1 of 4 users.");
  kick(1, 77);
  EXPECT_EQ(u[1]->read_frame().bytes(), chat_frame(0, "There is no user with the id 77."));
  kick(0, 3);
  EXPECT_EQ(u[0]->read_frame().bytes(), chat_frame(0, "You have already voted to kick c: 2 of 4 users."));
  // d leaves with its vote: 2 of the 3 left against c is a majority.
  u[3].reset();
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(u[i]->read_frame().bytes(), (Bytes{8, 1, 0, 4}));
    EXPECT_EQ(u[i]->read_frame().bytes(), (Bytes{8, 1, 0, 3}));
    EXPECT_EQ(u[i]->read_frame().bytes(), chat_frame(0, "c has been kicked."));
  }
  EXPECT_EQ(u[2]->read_frame().bytes(), (Bytes{8, 1, 0, 4}));
  EXPECT_EQ(u[2]->read_frame().bytes(), chat_frame(0, "You have been kicked from the board."));
  EXPECT_TRUE(u[2]->closed_within());
  kick(0, 2);
  EXPECT_EQ(u[1]->read_frame().bytes(), chat_frame(0, "a voted to kick b: 1 of 2 users."));
  EXPECT_TRUE(server.wait_for_log("kick: 3 \"c\" is disconnected by vote"));
  int id = -1;
  TestClient(server.port).login("e", &id);
  EXPECT_EQ(id, 3);  // the lowest of the ids freed
}
