// Resuming a session after a dropped link (net/resume.h): the exchange, the
// counts that tell a resent message from a new one, and the journal that
// keeps them across a restart of the server.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "harness.h"
#include "net/checkpoint.h"
#include "net/layout.h"
#include "net/message.h"
#include "net/resume.h"
#include "resume_store.h"

namespace {

const Bytes ACCEPTED = {0xFF, 0, 0};

// A login that asks to resume: with a ticket when token is given.
Bytes resume_login(const std::string& name, const uint8_t* token = nullptr, uint32_t acked = 0, uint32_t pending = 0) {
  Bytes plain = login_frame(name);
  Bytes payload(plain.begin() + 3, plain.end());
  payload.push_back(LOGIN_RESUMES | LOGIN_TAKES_CHECKPOINT);
  if (token) {
    payload.insert(payload.end(), token, token + RESUME_TOKEN_SIZE);
    for (uint32_t v : {acked, pending})
      for (int i = 0; i < 4; i++) payload.push_back(uint8_t(v >> (8 * i)));
  }
  return frame_bytes(MSG_LOGIN, payload);
}

struct Joined {
  std::vector<Frame> frames;  // up to the acknowledgement of the login
  ResumeReply reply = {};
  std::string name;
};

// Logs c in with that login request; the reply to resuming must come right after the login reply.
Joined join(TestClient* c, const Bytes& request) {
  Joined j;
  c->send(request);
  j.frames = c->read_until(255);
  size_t at = j.frames.size() > 1 && j.frames[0].type == MSG_LOGIN ? 1 : 0;
  if (j.frames.size() > at && j.frames[at].type == MSG_RESUME) {
    EXPECT_TRUE(resume_reply_get(j.frames[at].payload.data(), j.frames[at].payload.size(), &j.reply));
  }
  if (at) j.name = reinterpret_cast<const char*>(j.frames[0].payload.data() + 1);
  return j;
}

// The drawing commands among the frames.
std::vector<Bytes> drawings(const std::vector<Frame>& frames) {
  std::vector<Bytes> out;
  for (const Frame& f : frames)
    if (f.type >= int(MSG_PEN) && f.type <= int(MSG_SMUDGE)) out.push_back(f.bytes());
  return out;
}

// The link drops (the client's socket closes) without the client going away.
void hang_up(TestClient* c) { connection_close(&c->conn); }

// The drawing commands that reach c until it has heard nothing for a second.
std::vector<Bytes> drawings_heard(TestClient* c) {
  std::vector<Frame> frames;
  for (Frame f; (f = c->read_frame(1)).type >= 0;) frames.push_back(f);
  return drawings(frames);
}

size_t frames_in(const Bytes& board) {
  size_t n = 0;
  for (size_t at = 0; at + 3 <= board.size(); at += 3 + frame_payload_length(&board[at])) n++;
  return n;
}

}  // namespace

TEST(Resume, ANegotiatedLoginGetsItsTokenBeforeTheBoardAPlainOneTodaysBytesAndABadTailIsRefused) {
  TestServer server;
  const Bytes old = pen_frame(3, 4);
  server.write_board(old);
  ASSERT_TRUE(server.start());
  TestClient ann(server.port);
  Joined a = join(&ann, resume_login("Ann"));
  ASSERT_EQ(a.frames.size(), 3u);
  EXPECT_EQ(a.frames[1].type, MSG_RESUME);
  EXPECT_EQ(a.reply.outcome, RESUME_NEW);
  EXPECT_EQ(a.reply.accepted, 0u);
  EXPECT_STREQ(a.reply.reason, "");
  EXPECT_NE(Bytes(a.reply.token, a.reply.token + 16), Bytes(16, 0));
  EXPECT_EQ(a.frames[2].bytes(), old);
  // A resume session draws; a plain newcomer sees exactly what it always did.
  const Bytes stroke = pen_frame(1, 5);
  ann.send(concat({stroke, chat_frame(0, "hi")}));
  ASSERT_EQ(ann.read_frame().bytes(), ACCEPTED);
  ASSERT_EQ(ann.read_frame().bytes(), ACCEPTED);
  TestClient bob(server.port);
  Bytes got;
  for (const Frame& f : bob.login("Bob")) got = concat({got, f.bytes()});
  EXPECT_EQ(got, concat({{6, 11, 0, 2, 'B', 'o', 'b', 0, 1, 'A', 'n', 'n', 0, 0}, old, stroke}));
  // A ticket of the wrong length, or without the flag: a protocol error.
  Bytes good = resume_login("Cy", a.reply.token);
  for (Bytes bad : {Bytes(good.begin(), good.end() - 1), good}) {
    bad[1] = uint8_t(bad.size() - 3);
    if (bad.size() == good.size()) bad[3 + 4 + 3] = LOGIN_TAKES_CHECKPOINT;
    TestClient c(server.port);
    c.send(bad);
    EXPECT_TRUE(c.closed_within());
  }
  EXPECT_TRUE(server.wait_for_log("sent an invalid frame (type 6, 31 bytes)"));
  EXPECT_TRUE(server.wait_for_log("sent an invalid frame (type 6, 32 bytes)"));
}

// A stroke whose acknowledgement was lost is counted: the client drops it and
// sends only what the server did not confirm; the board and another user hold each once.
TEST(Resume, ALostAcknowledgementIsCountedNobodyTakesOverAPresentSessionBadTicketsAreRefused) {
  TestServer server;
  ASSERT_TRUE(server.start({"--rate", "0"}));
  Clients watcher = logged_in(server, 1);
  const Bytes s1 = pen_frame(2, 3, 1), s2 = pen_frame(2, 4, 2), s3 = pen_frame(2, 5, 3);
  ResumeReply first;
  {
    TestClient ann(server.port);
    first = join(&ann, resume_login("Ann")).reply;
    ann.send(s1);
    ASSERT_EQ(ann.read_frame().bytes(), ACCEPTED);
    ann.send(s2);  // its acknowledgement is never read
    watcher[0]->read_until(MSG_PEN);
    watcher[0]->read_until(MSG_PEN);
  }
  watcher[0]->read_until(MSG_USER_LEFT);
  TestClient again(server.port);
  Joined j = join(&again, resume_login("Zed", first.token, 1, 2));  // s2 and s3 drawn since
  EXPECT_EQ(j.reply.outcome, RESUME_TAKEN);
  EXPECT_EQ(j.reply.accepted, 2u);
  EXPECT_EQ(Bytes(j.reply.token, j.reply.token + 16), Bytes(first.token, first.token + 16));
  EXPECT_EQ(j.name, "Ann");  // the session's name
  EXPECT_EQ(drawings(j.frames), (std::vector<Bytes>{s1, s2}));
  again.send(s3);
  EXPECT_EQ(again.read_frame().bytes(), ACCEPTED);
  EXPECT_EQ(drawings_heard(watcher[0].get()), std::vector<Bytes>{s3});
  EXPECT_EQ(server.board_file(), concat({s1, s2, s3}));
  // The same ticket while the session is present: BUSY alone, and the link ends.
  TestClient thief(server.port);
  thief.send(resume_login("Eve", first.token, 3, 0));
  Frame busy = thief.read_frame();
  ResumeReply r;
  ASSERT_EQ(busy.type, MSG_RESUME);
  ASSERT_TRUE(resume_reply_get(busy.payload.data(), busy.payload.size(), &r));
  EXPECT_EQ(r.outcome, RESUME_BUSY);
  EXPECT_STREQ(r.reason, "This session is still connected.");
  EXPECT_TRUE(thief.closed_within());
  again.send(chat_frame(0, "still me"));
  EXPECT_EQ(again.read_frame().bytes(), ACCEPTED);  // count 4
  hang_up(&again);
  watcher[0]->read_until(MSG_USER_LEFT);
  // Bad tickets: refused with a reason, then a new session (a new token) and the login goes on.
  uint8_t forged[16];
  memcpy(forged, first.token, 16);
  forged[15] ^= 1;
  struct Case {
    const uint8_t* token;
    uint32_t acked, pending;
    const char* reason;
  } cases[] = {{forged, 0, 0, "This session is unknown or has expired."},
               {first.token, 5, 0, "The session's count is ahead of the server's."},
               {first.token, 0, 9, "This session is unknown or has expired."}};  // forgotten once refused
  for (const Case& c : cases) {
    TestClient t(server.port);
    Joined refused = join(&t, resume_login("Tim", c.token, c.acked, c.pending));
    EXPECT_EQ(refused.reply.outcome, RESUME_REFUSED);
    EXPECT_STREQ(refused.reply.reason, c.reason);
    EXPECT_EQ(refused.reply.accepted, 0u);
    EXPECT_NE(memcmp(refused.reply.token, c.token, 16), 0);
    EXPECT_EQ(refused.frames.back().type, MSG_PEN);  // the board follows, then the acknowledgement
  }
  // Far in the past: 3 accepted since the ticket's count, 2 said to be pending.
  TestClient dan(server.port);
  ResumeReply d = join(&dan, resume_login("Dan")).reply;
  for (int i = 0; i < 3; i++) dan.send(chat_frame(0, "x"));
  for (int i = 0; i < 3; i++) ASSERT_EQ(dan.read_frame().bytes(), ACCEPTED);
  hang_up(&dan);
  ASSERT_TRUE(server.wait_for_log("\"Dan\" left"));
  TestClient late(server.port);
  Joined behind = join(&late, resume_login("Dan", d.token, 0, 2));
  EXPECT_EQ(behind.reply.outcome, RESUME_REFUSED);
  EXPECT_STREQ(behind.reply.reason, "The session's count is too far behind the server's.");
}

TEST(Resume, ARestartVoteCarriesThePresentSessionsOnAndTheAbsentOnesGetRestarted) {
  TestServer server;
  server.write_board(pen_frame(1, 3));
  ASSERT_TRUE(server.start());
  TestClient a(server.port), b(server.port);
  ResumeReply ta = join(&a, resume_login("a")).reply;
  ResumeReply tb = join(&b, resume_login("b")).reply;
  b.send(chat_frame(0, "bye"));
  ASSERT_EQ(b.read_frame().bytes(), ACCEPTED);
  hang_up(&b);
  a.read_until(MSG_USER_LEFT);
  a.send({9, 1, 0, 1});
  a.read_until(MSG_RESTART);
  a.send(pen_frame(1, 2));  // on the new board: the count goes on
  ASSERT_EQ(a.read_frame().bytes(), ACCEPTED);
  TestClient b2(server.port);
  Joined rb = join(&b2, resume_login("b", tb.token, 1, 0));
  EXPECT_EQ(rb.reply.outcome, RESUME_RESTARTED);
  EXPECT_STREQ(rb.reply.reason, "The board was restarted since.");
  EXPECT_NE(memcmp(rb.reply.token, tb.token, 16), 0);
  hang_up(&a);
  b2.read_until(MSG_USER_LEFT);
  TestClient a2(server.port);
  Joined ra = join(&a2, resume_login("a", ta.token, 1, 0));
  EXPECT_EQ(ra.reply.outcome, RESUME_TAKEN);
  EXPECT_EQ(ra.reply.accepted, 1u);
}

TEST(Resume, AKickedOrRefusedNegotiatedClientHearsGoodbyeAndAKickedSessionIsForgotten) {
  TestServer server;
  ASSERT_TRUE(server.start({"--seats-per-source", "1"}));
  TestClient a(server.port), b(server.port), c(server.port);
  join(&a, resume_login("a"));
  ResumeReply tb = join(&b, resume_login("b")).reply;
  join(&c, resume_login("c"));
  a.send({10, 1, 0, 2});
  c.send({10, 1, 0, 2});
  for (Frame f; (f = b.read_frame()).type >= 0 && f.bytes() != chat_frame(0, "You have been kicked from the board.");) {}
  EXPECT_EQ(b.read_frame().bytes(), (Bytes{MSG_GOODBYE, 1, 0, GOODBYE_KICKED}));
  EXPECT_TRUE(b.closed_within());
  TestClient b2(server.port);
  Joined back = join(&b2, resume_login("b", tb.token, 0, 0));
  EXPECT_EQ(back.reply.outcome, RESUME_REFUSED);
  // A second user from one address: refused, then goodbye.
  TestClient same(server.port, "127.31.0.1"), second(server.port, "127.31.0.1");
  join(&same, resume_login("s"));
  second.send(resume_login("t"));
  EXPECT_EQ(second.read_frame().bytes(), chat_frame(0, "Sorry, 1 users from your address are on the board already. Try again later."));
  EXPECT_EQ(second.read_frame().bytes(), (Bytes{MSG_GOODBYE, 1, 0, GOODBYE_REFUSED}));
  EXPECT_TRUE(second.closed_within());
}

// The count of a session is kept across a kill -9 (its link ended by it);
// a journal ending in a torn record, and one whose last records count frames
// that never reached the board file, recover to what the board holds.
TEST(ResumeJournal, CountsSurviveAKillNineATornTailAndFramesThatNeverReachedTheBoard) {
  TestServer server;
  ASSERT_TRUE(server.start({"--rate", "0"}));
  ResumeReply first;
  TestClient a(server.port);
  first = join(&a, resume_login("a")).reply;
  a.send(chat_frame(0, "hello"));
  ASSERT_EQ(a.read_frame().bytes(), ACCEPTED);
  std::vector<Bytes> sent;
  for (int i = 0; i < 5; i++) {
    sent.push_back(pen_frame(1, 3 + i, i));
    a.send(sent.back());
    ASSERT_EQ(a.read_frame().bytes(), ACCEPTED);
  }
  // Takes the session up (the server's count), draws `more` strokes in one go, and leaves.
  auto resume = [&](int more) {
    TestClient c(server.port);
    Joined j = join(&c, resume_login("a", first.token, 0, 1u << 30));
    EXPECT_EQ(j.reply.outcome, RESUME_TAKEN) << j.reply.reason;
    std::vector<Bytes> batch;
    for (int i = 0; i < more; i++) batch.push_back(pen_frame(1, 2 + i % 50, 100 + int(sent.size())));
    c.send(concat(batch));
    for (int i = 0; i < more; i++) EXPECT_EQ(c.read_frame().bytes(), ACCEPTED);
    sent.insert(sent.end(), batch.begin(), batch.end());
    return j.reply.accepted;
  };
  auto restart = [&](int signal_number) {
    EXPECT_EQ(server.stop(signal_number), signal_number == SIGKILL ? 128 + SIGKILL : 0);
    return server.start({"--rate", "0"});
  };
  ASSERT_TRUE(restart(SIGKILL));  // a was present: its session was ended by the kill
  EXPECT_EQ(resume(0), 6u);
  ASSERT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
  const Bytes journal = server.file("board.easel.resume");
  ASSERT_GT(journal.size(), RESUME_HEADER_SIZE + RESUME_RECORD_SIZE);
  server.write_file("board.easel.resume", concat({journal, Bytes(journal.end() - RESUME_RECORD_SIZE, journal.end() - 30)}));
  ASSERT_TRUE(server.start({"--rate", "0"}));
  EXPECT_EQ(resume(0), 6u);
  EXPECT_TRUE(server.wait_for_log("ends in 43 torn or damaged bytes; they are dropped"));
  // Strokes whose board write was lost: the journal's records of them are dropped.
  const Bytes board = server.board_file();
  EXPECT_EQ(resume(12), 6u);
  ASSERT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
  server.write_board(board);
  ASSERT_TRUE(server.start({"--rate", "0"}));
  EXPECT_EQ(resume(12), 6u);
  // Written in part (cut at a frame's end in the middle of the batch): the
  // count is what the board holds, the part never acknowledged cut off.
  ASSERT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
  Bytes whole = server.board_file();
  ASSERT_EQ(frames_in(whole), 17u);
  size_t cut = board.size();
  for (int i = 0; i < 5; i++) cut += 3 + frame_payload_length(&whole[cut]);
  server.write_board(Bytes(whole.begin(), whole.begin() + long(cut)));
  ASSERT_TRUE(server.start({"--rate", "0"}));
  const Bytes kept = server.board_file();
  ASSERT_LE(kept.size(), cut);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), whole.begin()));
  EXPECT_EQ(resume(0), 1 + frames_in(kept));
  // The 12 strokes came in one go, so most likely in one iteration: then it was cut off whole.
  EXPECT_TRUE(kept.size() == cut || server.wait_for_log("bytes of an iteration written in part"));
  // The same bytes put back as another file: the journal cannot vouch for that board.
  ASSERT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
  server.write_file("board.copy", server.board_file());
  ASSERT_EQ(std::rename((server.dir + "/board.copy").c_str(), server.board.c_str()), 0);
  ASSERT_TRUE(server.start({"--rate", "0"}));
  TestClient c(server.port);
  EXPECT_EQ(join(&c, resume_login("a", first.token, 0, 1u << 30)).reply.outcome, RESUME_RESTARTED);
}

TEST(ResumeJournal, StaysWithinItsBoundHoweverManyMessagesAreCounted) {
  TestServer server;
  ASSERT_TRUE(server.start({"--rate", "0"}));
  TestClient a(server.port);
  ResumeReply t = join(&a, resume_login("a")).reply;
  const Bytes line = chat_frame(0, "x");
  const uint32_t messages = 15000;  // a record each: more than the bound holds
  const uint64_t bound = RESUME_JOURNAL_SLACK + 2 * (RESUME_HEADER_SIZE + RESUME_RECORD_SIZE) + RESUME_RECORD_SIZE;
  for (uint32_t i = 0; i < messages; i++) {
    a.send(line);
    ASSERT_EQ(a.read_frame().bytes(), ACCEPTED);
    if (i % 1000 == 0) {
      ASSERT_LE(server.file("board.easel.resume").size(), bound) << i;
    }
  }
  EXPECT_LE(server.file("board.easel.resume").size(), bound);
  hang_up(&a);
  ASSERT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
  ASSERT_TRUE(server.start());
  TestClient b(server.port);
  Joined j = join(&b, resume_login("a", t.token, messages, 0));
  EXPECT_EQ(j.reply.outcome, RESUME_TAKEN);
  EXPECT_EQ(j.reply.accepted, messages);
}
