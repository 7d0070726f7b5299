// The session core driven with bytes alone: login, dispatch, the queue of our
// commands and the reconciliation of the two pictures against a scripted server.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <deque>
#include <random>

#include "base/digest.h"
#include "net/checkpoint.h"
#include "net/command.h"
#include "net/command_run.h"
#include "paint/png_write.h"
#include "paint/pixel.h"
#include "session/painter.h"
#include "session_support.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// A step is cut after per_step messages: the clock counts its checks.
int clock_calls = 0;
double per_step = 1e9;
double counted_clock() { return ++clock_calls; }

class BoardSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    per_step = 1e9;
    s.now = TEST_NOW;
    ASSERT_TRUE(board_session_open(&s));
    paper = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
    paintPaper(paper);
  }
  void TearDown() override {
    board_session_close(&s);
    free_image(paper);
  }
  void step() {
    board_frame_start(&s, TEST_NOW);
    clock_calls = 0;
    board_session_step(&s, counted_clock, per_step);
  }
  // The server's bytes, taken by the next frame.
  void deliver(const Bytes& bytes) {
    ASSERT_TRUE(board_session_received(&s, bytes.data(), bytes.size()));
    step();
  }
  // Everything a session has for the server, as sent.
  static Bytes sent_by(BoardSession* session) {
    size_t n;
    const uint8_t* bytes = board_session_unsent(session, &n);
    const Bytes out(bytes, bytes + n);
    board_session_sent(session, n);
    return out;
  }
  Bytes sent() { return sent_by(&s); }
  // Logs in as "Ann" on example.org: the request, the reply (id 1, no one else)
  // and its acceptance.
  void login() {
    ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
    ASSERT_EQ(sent(), (Bytes{0x06, 0x08, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E, 0x6E, 0x00}));
    deliver(frame_bytes(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})));
    deliver(frame_bytes(MSG_ACCEPTED, {}));
    ASSERT_EQ(queue_count(&s.command_queue), 0);
  }
  // Our finished stroke or chat line, as the user interface submits it.
  int submit(const Bytes& frame) {
    Message m = frame_message(frame);
    return board_session_submit(&s, &m);
  }
  Bytes chat_frame(uint8_t author, const std::string& text) {
    return frame_bytes(MSG_CHAT, concat({{author}, text_bytes(text)}));
  }
  Lines lines() { return chat_lines(s.chat_log); }
  // Ann's login request: what follows the name (flags, a ticket).
  static Bytes login_request(const Bytes& tail) {
    return frame_bytes(MSG_LOGIN, concat({{0x09, 0, 0, 0}, text_bytes("Ann"), tail}));
  }
  static Bytes ticket(uint8_t token, uint32_t acked, uint32_t pending) {
    return concat({{LOGIN_RESUMES}, Bytes(RESUME_TOKEN_SIZE, token), le32(acked), le32(pending)});
  }
  static Bytes login_reply() { return frame_bytes(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})); }
  // A first login that resumes: a new session, token 0x11.
  void resume_login() {
    s.take_resume = true;
    ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
    ASSERT_EQ(sent(), login_request({LOGIN_RESUMES}));
    deliver(concat({login_reply(), resume_frame(RESUME_NEW, 0x11, 0), frame_bytes(MSG_ACCEPTED, {})}));
    ASSERT_EQ(queue_count(&s.command_queue), 0);
  }

  BoardSession s = {};
  Image* paper = nullptr;
};

// A page's step ends at its deadline, checked before each message but the
// first: a deadline already past still handles one.
TEST_F(BoardSessionTest, AStepUntilADeadlineHandlesOneMessageAtLeastAndStopsWhenItIsReached) {
  login();
  static double ms;
  const Bytes join = frame_bytes(MSG_USER_JOINED, concat({{4}, text_bytes("Bob")}));
  ASSERT_TRUE(board_session_received(&s, join.data(), join.size()));
  for (uint8_t id = 5; id < 9; ++id) {
    const Bytes more = frame_bytes(MSG_USER_JOINED, concat({{id}, text_bytes("Eve")}));
    ASSERT_TRUE(board_session_received(&s, more.data(), more.size()));
  }
  auto tick = [] { return ms += 1; };
  const int expected_lines[] = {1, 2, 2};  // past deadline; 2 ms (checks at 1 and 2); the rest
  const double deadlines[] = {0, 2, 1e9};
  for (int k = 0; k < 3; ++k) {
    ms = 0;
    board_frame_start(&s, TEST_NOW);
    board_session_step(&s, tick, deadlines[k]);
    EXPECT_EQ(s.frame.lines_added, expected_lines[k]) << "step " << k;
  }
  EXPECT_EQ(byte_buffer_used(&s.incoming), 0u);
  EXPECT_STREQ(roster_name(&s.roster, 4), "Bob");
}

// The picture as a PNG, as the server makes it.
Bytes png_of(const Image* picture) {
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  const bool ok = f && png_write(picture, f);
  if (f) fclose(f);
  Bytes out(data, data + (ok ? size : 0));
  free(data);
  return out;
}

// A login that asks for a checkpoint gets the picture after the first 25 of
// 40 commands of every tool and the 15 after it: its pictures are the whole
// history's, bit for bit. A checkpoint damaged in any way, or one that comes
// unasked or is cut by a command, ends the link with a notice and never
// leaves a wrong picture behind.
TEST_F(BoardSessionTest, ACheckpointAndTheCommandsAfterItAreTheWholeHistoryAndADamagedOneIsRefused) {
  Bytes history, head_part;
  for (unsigned i = 0; i < 40; ++i) {
    history = concat({history, stroke_frame(5, int(i % DRAWING_TYPE_COUNT), 300 + i)});
    if (i == 24) head_part = history;
  }
  Image* truth = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  image_copy_all(paper, truth);
  apply_frames(truth, head_part.data(), head_part.size());
  const Bytes png = png_of(truth);
  Image* at_25 = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  image_copy_all(truth, at_25);
  const CheckpointHead head = {25, head_part.size(), digest_bytes(DIGEST_START, head_part.data(), head_part.size()),
                               image_digest(truth), uint32_t(png.size())};
  apply_frames(truth, history.data() + head_part.size(), history.size() - head_part.size());
  const Bytes tail(history.begin() + long(head_part.size()), history.end());
  auto frames = [&](CheckpointHead h, const Bytes& bytes) {
    h.png_length = uint32_t(bytes.size());
    return checkpoint_frames(h, bytes.data(), bytes.size());
  };
  const Bytes good = frames(head, png);
  ASSERT_GT(good.size(), png.size() + 2 * FRAME_HEADER_SIZE);  // in pieces
  Bytes flipped = png;
  flipped[png.size() / 2] ^= 0x40;
  CheckpointHead other = head;
  other.picture ^= 1;
  Image* small = make_filled(100, 100, 0, 0, 0);
  const Bytes huge_head = frame_bytes(MSG_CHECKPOINT, Bytes(CHECKPOINT_HEAD_SIZE, 0xFF));
  const Bytes first(good.begin(), good.begin() + long(FRAME_HEADER_SIZE + frame_payload_length(good.data())));
  const struct {
    bool asked;
    Bytes server;  // after the login reply
    Image* shown;  // ServerCanvas then; the link ends unless it is the truth
  } cases[] = {
      {true, concat({good, tail}), truth},
      {false, history, truth},  // not asked, none sent: the history
      {true, history, truth},   // asked, none sent: the history
      {true, concat({frames(head, flipped), tail}), paper},
      {true, concat({frames(other, png), tail}), paper},
      {true, concat({frames(head, png_of(small)), tail}), paper},
      {true, concat({huge_head, tail}), paper},
      {true, concat({frame_bytes(MSG_CHECKPOINT, Bytes(10, 0)), tail}), paper},
      {true, concat({first, tail}), paper},  // cut by a command
      {false, concat({good, tail}), paper},  // unasked
      {true, concat({good, frame_bytes(MSG_CHECKPOINT, {1, 2}), tail}), at_25},
  };
  free_image(small);
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    s.take_checkpoint = c.asked;
    ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
    const Bytes request = sent();
    EXPECT_EQ(request.size(), c.asked ? 12u : 11u);
    EXPECT_EQ(request.back(), c.asked ? LOGIN_TAKES_CHECKPOINT : 0);
    deliver(frame_bytes(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})));
    chat_log_clear(&s.chat_log);
    deliver(concat({c.server, frame_bytes(MSG_ACCEPTED, {})}));
    const bool kept = c.shown == truth;
    EXPECT_EQ(s.connected, kept);
    EXPECT_TRUE(images_equal(&s.ServerCanvas, c.shown));
    EXPECT_EQ(lines(), kept ? Lines{} : Lines{system_line("The board from example.org:2020 came damaged; disconnected")});
  }
  EXPECT_TRUE(images_equal(&s.LocalCanvas, at_25));  // nothing of ours pending: LocalCanvas is ServerCanvas

  // A caller that decodes the PNG itself: what follows waits for its picture,
  // which is taken only with the checkpoint's digest (null: the session decodes).
  s.take_checkpoint = s.checkpoint_by_caller = true;
  for (const Image* given : {static_cast<const Image*>(at_25), static_cast<const Image*>(nullptr),
                             static_cast<const Image*>(paper)}) {
    ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
    deliver(concat({frame_bytes(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})), good, tail}));
    size_t length = 0;
    const uint8_t* waiting = board_session_checkpoint_png(&s, &length);
    ASSERT_EQ(Bytes(waiting, waiting + length), png);
    EXPECT_TRUE(images_equal(&s.ServerCanvas, paper));  // nothing after it handled yet
    EXPECT_EQ(board_session_checkpoint_picture(&s, given), given != paper);
    step();
    EXPECT_EQ(s.connected, given != paper);
    EXPECT_TRUE(images_equal(&s.ServerCanvas, given == paper ? paper : truth));
  }
  s.checkpoint_by_caller = false;
  // A resume reply comes before the checkpoint and leaves its time open.
  s.take_resume = true;
  ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
  EXPECT_EQ(sent().back(), LOGIN_TAKES_CHECKPOINT | LOGIN_RESUMES);
  deliver(concat({frame_bytes(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})), resume_frame(RESUME_NEW, 1, 0), good,
                  tail, frame_bytes(MSG_ACCEPTED, {})}));
  EXPECT_TRUE(s.connected);
  EXPECT_TRUE(images_equal(&s.ServerCanvas, truth));
  s.take_resume = false;
  free_image(at_25);
  free_image(truth);
}

// Two painters in one process share nothing: one's colour, tool, stroke,
// pictures and bytes are not the other's. A stroke in progress goes on over a
// picture rebuilt under it, and its release becomes one command in the
// painter's own tool and colour.
TEST_F(BoardSessionTest, TwoSessionsInOneProcessShareNothing) {
  login();
  BoardSession t = {};
  t.now = TEST_NOW;
  ASSERT_TRUE(board_session_open(&t));
  ASSERT_TRUE(board_session_login(&t, "Bob", "example.net", 2021));
  const Bytes bob_login = sent_by(&t);
  colour_panel_press(&s.colour, 1, 255, 255);  // the pure hue: red
  ASSERT_TRUE(tool_settings_select(&s.tools, 2));
  *tool_slider_value(&s.tools, 2, 0) = 9.5f;
  const StrokeView none = {};
  const int xs[] = {100, 160, 220, 230, 300, 300};
  for (int k = 0; k < 6; ++k) painter_pointer(&s, &none, xs[k], 100 + 40 * (k % 2), k == 0, MOUSE_LEFT, false, false);
  ASSERT_GT(s.stroke.points.count, 3u);
  deliver(stroke_frame(5, 0, 7));  // another painter's stroke under ours
  Image* expected = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  StrokeCapture copy = s.stroke;
  stroke_preview_rebuild(&copy, expected, &s.LocalCanvas, s.colour.rgb);
  EXPECT_TRUE(images_equal(expected, &s.StrokeLayer));
  free_image(expected);
  painter_pointer(&s, &none, 300, 140, 0, 0, false, false);
  const Bytes ours = sent();
  ASSERT_EQ(queue_count(&s.command_queue), 1);
  StrokeCommand c;
  ASSERT_TRUE(decode_command(queue_at(&s.command_queue, 0), &c, &point_list));
  EXPECT_EQ(c.type, uint32_t(MSG_BRUSH));
  EXPECT_EQ((std::vector<float>{c.rgb[0], c.rgb[1], c.rgb[2]}), (std::vector<float>{255, 0, 0}));
  EXPECT_NEAR(c.value1, 9.5, 0.01);  // as the wire carries it
  EXPECT_FALSE(stroke_in_progress(&s.stroke));

  EXPECT_EQ(t.colour.rgb[0], 0.0f);
  EXPECT_EQ(t.colour.palette_next, PALETTE_FIRST_NEXT);
  EXPECT_EQ(t.tools.drawing_tool, 0);
  EXPECT_EQ(t.tools.values[2][0], DRAWING_TOOLS[2].size.start);
  EXPECT_EQ(t.stroke.points.count, 0u);
  EXPECT_TRUE(images_equal(&t.LocalCanvas, paper) && images_equal(&t.ServerCanvas, paper));
  EXPECT_EQ(queue_count(&t.command_queue), 1);  // its login alone
  EXPECT_EQ(sent_by(&t), Bytes{});
  EXPECT_NE(bob_login, ours);
  board_session_close(&t);
}

// Handling stops when the clock's second changes: t0 and one check per message
// fall into one second here, two messages per step. A user's stroke tells where
// the user is (its first point) and in which colour. A login reply may come at
// any time; each one starts the roster and the picture afresh.
TEST_F(BoardSessionTest, JoinsLeavesStrokesRestartsAndLoginRepliesTwoMessagesPerClockSecond) {
  login();
  EXPECT_EQ(lines(), Lines{system_line("Logged in as Ann.")});
  chat_log_clear(&s.chat_log);
  per_step = 2;
  deliver(concat({frame_bytes(MSG_USER_JOINED, concat({{4}, text_bytes("Bob")})),
                  frame_bytes(MSG_USER_JOINED, concat({{6}, text_bytes("Carla-with-a-long-name")})),
                  frame_bytes(MSG_USER_LEFT, {4}), frame_bytes(MSG_USER_LEFT, {42})}));
  EXPECT_STREQ(roster_name(&s.roster, 4), "Bob");
  EXPECT_STREQ(roster_name(&s.roster, 6), "Carla-with-a-lo");
  EXPECT_TRUE(s.frame.roster_changed);
  EXPECT_EQ(s.frame.lines_added, 2);
  EXPECT_FALSE(s.frame.received_this_frame);
  step();
  EXPECT_FALSE(roster_exists(&s.roster, 4));
  EXPECT_TRUE(roster_exists(&s.roster, 6));
  EXPECT_EQ(lines(), (Lines{system_line("Bob has joined."), system_line("Carla-with-a-lo has joined."),
                            system_line("Bob has left."), system_line("??? has left.")}));
  per_step = 1e9;
  deliver(frame_bytes(MSG_PEN, {6, 10, 20, 30, 123, 0, 45, 0, 200, 0, 60, 0}));
  EXPECT_TRUE(s.frame.received_this_frame && s.frame.roster_changed);
  EXPECT_EQ(s.roster.users[6].x, 123);
  EXPECT_EQ(s.roster.users[6].y, 45);
  EXPECT_EQ(s.roster.users[6].green, 20.0f);
  EXPECT_EQ(s.roster.users[6].blue, 30.0f);
  EXPECT_FALSE(images_equal(&s.ServerCanvas, paper));
  deliver(frame_bytes(MSG_RESTART, {}));
  EXPECT_EQ(lines().back(), system_line("Image restarted."));
  EXPECT_TRUE(images_equal(&s.ServerCanvas, paper));
  EXPECT_TRUE(images_equal(&s.LocalCanvas, paper));

  const struct {
    std::string sent, name;
    Bytes others;
    std::string notice;
  } replies[] = {
      {"Annabel", "Annabel", {0}, "Logged in as Annabel."},
      {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNO", {0}, "Logged in as ABCDEFGHIJKLMNO."},
      {"Annabel", "Annabel", concat({{4}, text_bytes("Bob"), {0}}), "Logged in as Annabel, Bob is already here."},
      // No terminating 0: the end of the payload ends the list too.
      {"Annabel", "Annabel", concat({{4}, text_bytes("Bob"), {9}, text_bytes("Cy"), {2}, text_bytes("Dee")}),
       "Logged in as Annabel, 3 users are already here."},
  };
  for (const auto& c : replies) {
    SCOPED_TRACE(c.notice);
    fill_rect(&s.ServerCanvas, 10, 10, 50, 50, pack_pixel(9, 9, 9));  // the reset must remove it
    deliver(frame_bytes(MSG_LOGIN, concat({{7}, text_bytes(c.sent), c.others})));
    EXPECT_EQ(s.own_user_id, 7);
    EXPECT_STREQ(s.user_name, c.name.c_str());  // the server's name, not the one we sent
    EXPECT_STREQ(roster_name(&s.roster, 7), c.name.c_str());
    EXPECT_FALSE(roster_exists(&s.roster, 6));
    EXPECT_EQ(lines().back(), system_line(c.notice));
    EXPECT_TRUE(images_equal(&s.ServerCanvas, paper));
    EXPECT_TRUE(images_equal(&s.LocalCanvas, paper));  // rebuilt in the same frame
    roster_set_name(&s.roster, 6, "Stale");
  }
  EXPECT_STREQ(roster_name(&s.roster, 9), "Cy");
  EXPECT_STREQ(roster_name(&s.roster, 2), "Dee");
}

// Stray acknowledgements, unknown types, votes and a malformed stroke change
// no picture and add no line (unknown ones still count as received). Our
// stroke acknowledged alone is copied, not drawn or rebuilt (a mark on a pixel
// no command draws tells); the first of two is drawn on ServerCanvas and
// leaves LocalCanvas; with another user's command in the same frame it is
// drawn and LocalCanvas rebuilt. Chat lines name their speaker from the roster
// (none for author 0, controls and escapes dropped, at most 511 characters),
// ours once, at its acceptance, however many rebuilds come first.
TEST_F(BoardSessionTest, StrayMessagesAcknowledgementsByCopyOrDrawingAndChatLines) {
  login();
  chat_log_clear(&s.chat_log);
  roster_set_name(&s.roster, 4, "Bob");
  const UserRecord bob = s.roster.users[4];
  deliver(concat({frame_bytes(MSG_ACCEPTED, {1, 2, 3}), frame_bytes(MSG_ACCEPTED, {}), frame_bytes(13, {1, 2, 3, 4, 5}),
                  frame_bytes(MSG_KICK, {3}), frame_bytes(MSG_PEN, {4, 1, 2}), frame_bytes(200, {})}));
  EXPECT_TRUE(s.connected);
  EXPECT_TRUE(s.frame.received_this_frame);
  EXPECT_EQ(lines(), Lines{});
  EXPECT_EQ(0, memcmp(&bob, &s.roster.users[4], sizeof bob));
  EXPECT_TRUE(images_equal(&s.ServerCanvas, paper));
  EXPECT_TRUE(images_equal(&s.LocalCanvas, paper));

  const uint32_t mark = pack_pixel(1, 2, 3);
  const Bytes first = stroke_frame(1, 2, 1);
  ASSERT_EQ(submit(first), SUBMIT_SENT);
  EXPECT_EQ(sent(), first);
  image_row(&s.LocalCanvas, 0)[0] = mark;
  deliver(frame_bytes(MSG_ACCEPTED, {}));
  EXPECT_EQ(queue_count(&s.command_queue), 0);
  EXPECT_FALSE(s.frame.received_this_frame);
  EXPECT_EQ(pixel_at(&s.ServerCanvas, 0, 0), mark);  // copied, not drawn
  EXPECT_EQ(pixel_at(&s.LocalCanvas, 0, 0), mark);   // not rebuilt
  image_row(&s.LocalCanvas, 0)[0] = image_row(&s.ServerCanvas, 0)[0] = image_row(paper, 0)[0];

  Image* truth = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  image_copy_all(paper, truth);
  apply_frames(truth, first.data(), first.size());
  const Bytes ours[] = {stroke_frame(1, 4, 7), stroke_frame(1, 5, 8), chat_frame(1, "mine"), stroke_frame(1, 0, 10)};
  for (int i : {0, 1}) ASSERT_EQ(submit(ours[i]), SUBMIT_SENT);
  EXPECT_EQ(sent(), concat({ours[0], ours[1]}));
  // Our own strokes place our label as they are drawn: the stamp's first point and colour.
  EXPECT_EQ(s.roster.users[1].x, int16_t(8 * 37));
  EXPECT_EQ(s.roster.users[1].red, float(8 * 53 % 256));
  const uint64_t local = image_checksum(&s.LocalCanvas);
  deliver(frame_bytes(MSG_ACCEPTED, {}));
  apply_frames(truth, ours[0].data(), ours[0].size());
  EXPECT_TRUE(images_equal(&s.ServerCanvas, truth));
  EXPECT_EQ(image_checksum(&s.LocalCanvas), local);
  ASSERT_EQ(submit(ours[2]), SUBMIT_SENT);
  const Bytes theirs = stroke_frame(4, 3, 9);
  deliver(concat({theirs, chat_frame(4, "hi"), chat_frame(0, "n\xFF\xFCo\nte")}));  // rebuilt with our line queued
  // The first acknowledgement draws our stamp (our line still waits), the second shows our line.
  deliver(concat({frame_bytes(MSG_ACCEPTED, {}), chat_frame(4, std::string(700, 'w')), frame_bytes(MSG_ACCEPTED, {})}));
  // Our only stroke acknowledged after another user's command is drawn, not copied.
  ASSERT_EQ(submit(ours[3]), SUBMIT_SENT);
  deliver(concat({theirs, frame_bytes(MSG_ACCEPTED, {})}));
  for (const Bytes* f : {&theirs, &ours[1], &theirs, &ours[3]}) apply_frames(truth, f->data(), f->size());
  EXPECT_TRUE(images_equal(&s.ServerCanvas, truth));
  EXPECT_TRUE(images_equal(&s.LocalCanvas, truth));
  EXPECT_EQ(s.roster.users[4].x, int16_t(9 * 37));  // their stroke's first point
  EXPECT_EQ(lines(), (Lines{spoken_line("Bob", "hi"), system_line("note"), spoken_line("Bob", std::string(511, 'w')),
                            spoken_line("Ann", "mine")}));
  free_image(truth);
}

// A scripted server keeps its own order of every command and sends its bytes
// cut anywhere, at most three messages handled per clock second. After every
// frame LocalCanvas is ServerCanvas plus our pending commands; once everything
// sent is handled, both are the picture the server's order gives and the chat
// lines came in that order, ours at their acceptance.
TEST_F(BoardSessionTest, ScriptedServerCutAnywhereKeepsBothPicturesConsistent) {
  login();
  roster_set_name(&s.roster, 5, "Bob");
  roster_set_name(&s.roster, 9, "Cy");
  chat_log_clear(&s.chat_log);
  per_step = 3;
  std::mt19937 gen(12345);
  Image* truth = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  Image* scratch = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  image_copy_all(&s.ServerCanvas, truth);
  std::deque<Bytes> unacknowledged;  // ours, as the server received them
  Bytes stream;                      // the server's bytes not yet delivered
  unsigned variant = 100;
  int chats_sent = 0;
  Lines spoken;  // in the server's order
  auto acknowledge = [&] {
    const Bytes f = unacknowledged.front();
    unacknowledged.pop_front();
    if (f[0] == MSG_CHAT)
      spoken.push_back(spoken_line("Ann", reinterpret_cast<const char*>(&f[4])));
    else
      apply_frames(truth, f.data(), f.size());
    stream = concat({stream, frame_bytes(MSG_ACCEPTED, {})});
  };
  auto frame = [&] {
    const size_t cut = std::min(stream.size(), size_t(gen() % 200));
    ASSERT_TRUE(board_session_received(&s, stream.data(), cut));
    stream.erase(stream.begin(), stream.begin() + long(cut));
    clock_calls = 0;
    step();
    EXPECT_TRUE(local_canvas_consistent(&s, scratch));
    const Bytes out = sent();
    for (size_t at = 0; at < out.size(); at += FRAME_HEADER_SIZE + frame_payload_length(&out[at]))
      unacknowledged.push_back(Bytes(&out[at], &out[at] + FRAME_HEADER_SIZE + frame_payload_length(&out[at])));
  };
  for (int frame_no = 0; frame_no < 150; ++frame_no) {
    SCOPED_TRACE(frame_no);
    const unsigned act = gen() % 6;
    if (act == 0) {
      EXPECT_EQ(submit(stroke_frame(1, int(gen() % DRAWING_TYPE_COUNT), variant++)), SUBMIT_SENT);
    } else if (act == 1 && gen() % 3 == 0) {
      EXPECT_EQ(submit(chat_frame(1, "line " + std::to_string(chats_sent++))), SUBMIT_SENT);
    }
    EXPECT_TRUE(local_canvas_consistent(&s, scratch));
    frame();
    for (unsigned i = 0, n = gen() % 4; i < n; ++i) {
      const unsigned what = gen() % 10;
      if (what < 4) {
        const Bytes theirs = stroke_frame(gen() % 2 ? 5 : 9, int(gen() % DRAWING_TYPE_COUNT), variant++);
        apply_frames(truth, theirs.data(), theirs.size());
        stream = concat({stream, theirs});
      } else if (what < 8 && !unacknowledged.empty()) {
        acknowledge();
      } else if (what == 8) {
        stream = concat({stream, chat_frame(9, "chatter")});
        spoken.push_back(spoken_line("Cy", "chatter"));
      } else if (what == 9 && gen() % 4 == 0) {
        paintPaper(truth);
        stream = concat({stream, frame_bytes(MSG_RESTART, {})});
      }
    }
  }
  while (!unacknowledged.empty()) acknowledge();
  for (int i = 0; i < 1000 && (!stream.empty() || byte_buffer_used(&s.incoming) != 0); ++i) frame();
  EXPECT_EQ(queue_count(&s.command_queue), 0);
  EXPECT_TRUE(images_equal(truth, &s.ServerCanvas));
  EXPECT_TRUE(images_equal(truth, &s.LocalCanvas));
  Lines said = lines();
  said.erase(std::remove(said.begin(), said.end(), system_line("Image restarted.")), said.end());
  EXPECT_EQ(said, spoken);
  EXPECT_GT(spoken.size(), 10u);
  free_image(truth);
  free_image(scratch);
}

// Offline our stroke is drawn and nothing is sent. Votes go out unqueued.
// A command too long for a frame is refused and the link stays; one the queue
// cannot keep ends the link (a chat line shown first). The end drops the bytes
// either way and keeps the pictures and the queue; the notice names the server.
TEST_F(BoardSessionTest, OfflineStrokesVotesRefusedCommandsAndTheEndOfTheLink) {
  const Bytes stroke = stroke_frame(0, 1, 3);
  EXPECT_EQ(submit(stroke), SUBMIT_OFFLINE);
  EXPECT_FALSE(images_equal(&s.LocalCanvas, &s.ServerCanvas));
  Message vote;
  message_init(&vote, MSG_RESTART);
  message_put_byte(&vote, 1);
  EXPECT_EQ(board_session_send(&s, &vote), 0);
  EXPECT_EQ(sent(), Bytes{});
  login();
  message_init(&vote, MSG_RESTART);
  message_put_byte(&vote, 1);
  EXPECT_EQ(board_session_send(&s, &vote), 1);
  EXPECT_EQ(sent(), (Bytes{0x09, 0x01, 0x00, 0x01}));
  Message huge;
  message_init(&huge, MSG_CHAT);
  for (int i = 0; i < 70000; ++i) message_put_byte(&huge, 'x');
  EXPECT_EQ(board_session_submit(&s, &huge), SUBMIT_SEND_FAILED);
  EXPECT_TRUE(s.connected);
  EXPECT_EQ(sent(), Bytes{});

  ASSERT_EQ(submit(stroke_frame(1, 2, 4)), SUBMIT_SENT);
  const uint64_t local = image_checksum(&s.LocalCanvas), server = image_checksum(&s.ServerCanvas);
  Message empty;
  message_init(&empty, MSG_PEN);
  while (queue_push(&s.command_queue, &empty)) {
  }
  ASSERT_TRUE(board_session_received(&s, stroke.data(), stroke.size()));
  chat_log_clear(&s.chat_log);
  board_frame_start(&s, TEST_NOW);
  EXPECT_EQ(submit(chat_frame(1, "last words")), SUBMIT_QUEUE_FAILED);
  EXPECT_FALSE(s.connected);
  EXPECT_EQ(s.frame.disconnected, LINK_OUT_OF_MEMORY);
  EXPECT_EQ(lines(), (Lines{spoken_line("Ann", "last words"),
                            system_line("Out of memory; forced to disconnect from example.org:2020")}));
  EXPECT_EQ(sent(), Bytes{});
  EXPECT_EQ(byte_buffer_used(&s.incoming), 0u);
  EXPECT_EQ(queue_count(&s.command_queue), 0xFFFF);
  EXPECT_EQ(image_checksum(&s.LocalCanvas), local);
  EXPECT_EQ(image_checksum(&s.ServerCanvas), server);
  step();  // nothing more happens
  EXPECT_EQ(image_checksum(&s.ServerCanvas), server);
#ifndef __SANITIZE_ADDRESS__  // there the leak check watches it
  // The full queue's memory goes back when the session is reset.
  const size_t held = mallinfo2().uordblks + mallinfo2().hblkhd;
  board_session_reset(&s);
  EXPECT_GT(held - mallinfo2().uordblks - mallinfo2().hblkhd, 0xFFFF * sizeof(Message));
#endif
}

// Resumed: of our four unaccepted messages (a line, two strokes, one drawn
// offline) and one submitted before the reply, the server's count skips the
// first two (the line shown then, once) and the rest go out byte for byte, in
// order, after the ticket. LocalCanvas shows what waits all along.
TEST_F(BoardSessionTest, AResumeSkipsWhatTheServerTookAndSendsTheRestInOrder) {
  resume_login();
  Image* scratch = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  const Bytes line = chat_frame(1, "one"), a = stroke_frame(1, 2, 5), b = stroke_frame(1, 4, 6);
  for (const Bytes* f : {&line, &a, &b}) ASSERT_EQ(submit(*f), SUBMIT_SENT);
  EXPECT_EQ(sent(), concat({line, a, b}));
  board_session_disconnect(&s, LINK_LOST);
  EXPECT_TRUE(board_session_may_rejoin(&s));
  const Bytes c = stroke_frame(1, 0, 7), d = stroke_frame(1, 5, 8);
  EXPECT_EQ(submit(c), SUBMIT_HELD);
  EXPECT_TRUE(local_canvas_consistent(&s, scratch));
  EXPECT_FALSE(images_equal(&s.LocalCanvas, &s.ServerCanvas));
  ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
  EXPECT_EQ(sent(), login_request(ticket(0x11, 0, 4)));
  EXPECT_EQ(submit(d), SUBMIT_HELD);
  EXPECT_EQ(sent(), Bytes{});
  chat_log_clear(&s.chat_log);
  deliver(concat({login_reply(), resume_frame(RESUME_TAKEN, 0x22, 2)}));
  EXPECT_TRUE(s.frame.resumed);
  EXPECT_EQ(sent(), concat({b, c, d}));
  EXPECT_TRUE(local_canvas_consistent(&s, scratch));
  // The board with what the server took, then the acceptances: the login's and three.
  deliver(concat({a, frame_bytes(MSG_ACCEPTED, {}), frame_bytes(MSG_ACCEPTED, {}), frame_bytes(MSG_ACCEPTED, {}),
                  frame_bytes(MSG_ACCEPTED, {})}));
  Image* truth = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  image_copy_all(paper, truth);
  for (const Bytes* f : {&a, &b, &c, &d}) apply_frames(truth, f->data(), f->size());
  EXPECT_TRUE(images_equal(&s.ServerCanvas, truth));
  EXPECT_TRUE(images_equal(&s.LocalCanvas, truth));
  EXPECT_EQ(lines(), (Lines{system_line("Logged in as Ann."), spoken_line("Ann", "one")}));
  board_session_disconnect(&s, LINK_LOST);
  ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
  EXPECT_EQ(sent(), login_request(ticket(0x22, 5, 0)));
  // A reply claiming more than was held is not trusted: the link ends.
  deliver(concat({login_reply(), resume_frame(RESUME_TAKEN, 0x22, 6)}));
  EXPECT_EQ(s.frame.disconnected, LINK_LOST);
  ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
  // A stroke being drawn when the link ends goes on, and is held at its release.
  const StrokeView none = {};
  painter_pointer(&s, &none, 600, 300, 1, MOUSE_LEFT, false, false);
  painter_pointer(&s, &none, 640, 320, 0, MOUSE_LEFT, false, false);
  board_session_disconnect(&s, LINK_LOST);
  painter_pointer(&s, &none, 680, 300, 0, 0, false, false);
  EXPECT_EQ(board_session_pending(&s, nullptr), 1);
  free_image(truth);
  free_image(scratch);
}

// A ticket not honoured (refused, the board restarted, or a new session) drops
// what was held with a notice that counts it and gives the reason;
// LocalCanvas is ServerCanvas again. A first login sends what was drawn
// before it. BUSY ends the link, which may come back; a goodbye's may not.
TEST_F(BoardSessionTest, ANewSessionDropsWhatWasHeldBusyRetriesAndAGoodbyeIsFinal) {
  const struct {
    uint8_t outcome;
    std::string reason, notice;
  } cases[] = {
      {RESUME_REFUSED, "unknown token", "unknown token"},
      {RESUME_RESTARTED, "", "the board was restarted meanwhile"},
      {RESUME_NEW, "", "the server no longer knew our session"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.notice);
    board_session_reset(&s);
    resume_login();
    ASSERT_EQ(submit(stroke_frame(1, 1, 3)), SUBMIT_SENT);
    ASSERT_EQ(submit(chat_frame(1, "lost")), SUBMIT_SENT);
    board_session_disconnect(&s, LINK_LOST);
    ASSERT_EQ(submit(stroke_frame(1, 2, 4)), SUBMIT_HELD);
    ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
    EXPECT_EQ(sent(), login_request(ticket(0x11, 0, 3)));
    deliver(concat({login_reply(), resume_frame(c.outcome, 0x33, 9, c.reason)}));
    EXPECT_EQ(lines().back(), system_line("Dropped 2 strokes and 1 chat line that example.org:2020 did not confirm: " + c.notice));
    EXPECT_EQ(sent(), Bytes{});
    EXPECT_EQ(board_session_pending(&s, nullptr), 0);
    EXPECT_TRUE(images_equal(&s.LocalCanvas, &s.ServerCanvas));
    EXPECT_EQ(s.resume.acked, 0u);
  }
  // Drawn before the first login: sent after its reply.
  board_session_reset(&s);
  s.take_resume = true;
  const Bytes early = stroke_frame(0, 3, 5);
  ASSERT_EQ(submit(early), SUBMIT_HELD);
  ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
  EXPECT_EQ(sent(), login_request({LOGIN_RESUMES}));
  deliver(concat({login_reply(), resume_frame(RESUME_NEW, 0x11, 0)}));
  Bytes as_ours = early;
  as_ours[FRAME_HEADER_SIZE] = 1;  // under the id the login gave
  EXPECT_EQ(sent(), as_ours);
  // A server that does not resume (no reply after its login reply): sent as well.
  board_session_reset(&s);
  ASSERT_EQ(submit(early), SUBMIT_HELD);
  ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
  deliver(concat({login_reply(), frame_bytes(MSG_ACCEPTED, {})}));
  EXPECT_EQ(sent(), concat({login_request({LOGIN_RESUMES}), as_ours}));
  deliver(resume_frame(RESUME_NEW, 0x11, 0));  // too late: ignored
  EXPECT_FALSE(s.resume.has_token);
  s.resume.has_token = true;  // as the reply above would have left it
  memset(s.resume.token, 0x11, RESUME_TOKEN_SIZE);

  board_session_disconnect(&s, LINK_LOST);
  ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
  chat_log_clear(&s.chat_log);
  deliver(resume_frame(RESUME_BUSY, 0x11, 0));
  EXPECT_EQ(s.frame.disconnected, LINK_BUSY);
  EXPECT_TRUE(board_session_may_rejoin(&s));
  EXPECT_EQ(board_session_pending(&s, nullptr), 1);
  EXPECT_EQ(lines(), Lines{system_line("Our session on example.org:2020 is still open on another link; trying again later")});
  ASSERT_TRUE(board_session_login(&s, "Ann", "example.org", 2020));
  EXPECT_EQ(sent(), login_request(ticket(0x11, 0, 1)));
  deliver(concat({login_reply(), resume_frame(RESUME_TAKEN, 0x11, 0), frame_bytes(MSG_GOODBYE, {GOODBYE_KICKED})}));
  EXPECT_EQ(sent(), as_ours);
  board_session_disconnect(&s, LINK_LOST);
  EXPECT_FALSE(board_session_may_rejoin(&s));
}

}  // namespace
