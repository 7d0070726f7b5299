// Login, dispatch and the reconciliation of the two canvases, against a
// scripted server on 127.0.0.1.
#include <algorithm>
#include <deque>
#include <random>

#include "paint/pixel.h"
#include "session_fixture.h"
#include "ui/chat_input.h"
#include "ui/stroke_input.h"
#include "ui/toolbar.h"

using namespace testsupport;

namespace {

int clock_calls = 0;

// Handling stops when the clock's second changes: t0 and one check per message
// fall into one second here, two messages per step. A user's stroke tells where
// the user is (its first point) and in which colour. A login reply may come at
// any time; each one starts the roster and the picture afresh.
TEST_F(Session, JoinsLeavesStrokesRestartsAndLoginRepliesTwoMessagesPerClockSecond) {
  login();
  chat_log_reset();
  session_set_clock([] { return TEST_NOW + clock_calls++ / 3; });
  deliver(concat({frame_bytes(MSG_USER_JOINED, concat({{4}, text_bytes("Bob")})),
                  frame_bytes(MSG_USER_JOINED, concat({{6}, text_bytes("Carla-with-a-long-name")})),
                  frame_bytes(MSG_USER_LEFT, {4}), frame_bytes(MSG_USER_LEFT, {42})}));
  EXPECT_STREQ(roster_name(4), "Bob");
  EXPECT_STREQ(roster_name(6), "Carla-with-a-lo");
  clock_calls = 0;
  step();
  EXPECT_FALSE(roster_exists(4));
  EXPECT_TRUE(roster_exists(6));
  EXPECT_EQ(chat_lines(), (Lines{system_line("Bob has joined."),
                                 system_line("Carla-with-a-lo has joined."),
                                 system_line("Bob has left."), system_line("??? has left.")}));
  session_set_clock([] { return TEST_NOW; });
  const uint64_t paper = image_checksum(&ServerCanvas);
  deliver(frame_bytes(MSG_PEN, {6, 10, 20, 30, 123, 0, 45, 0, 200, 0, 60, 0}));
  EXPECT_EQ(roster.users[6].x, 123);
  EXPECT_EQ(roster.users[6].y, 45);
  EXPECT_EQ(roster.users[6].green, 20.0f);
  EXPECT_EQ(roster.users[6].blue, 30.0f);
  deliver(frame_bytes(MSG_RESTART, {}));
  EXPECT_EQ(chat_lines().back(), system_line("Image restarted."));
  EXPECT_EQ(image_checksum(&ServerCanvas), paper);

  const struct {
    std::string sent, name;
    Bytes others;
    std::string notice;
  } replies[] = {
      {"Annabel", "Annabel", {0}, "Logged in as Annabel."},
      {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNO", {0}, "Logged in as ABCDEFGHIJKLMNO."},
      {"Annabel", "Annabel", concat({{4}, text_bytes("Bob"), {0}}),
       "Logged in as Annabel, Bob is already here."},
      // No terminating 0: the end of the payload ends the list too.
      {"Annabel", "Annabel",
       concat({{4}, text_bytes("Bob"), {9}, text_bytes("Cy"), {2}, text_bytes("Dee")}),
       "Logged in as Annabel, 3 users are already here."},
  };
  for (const auto& c : replies) {
    SCOPED_TRACE(c.notice);
    fill_rect(&ServerCanvas, 10, 10, 50, 50, pack_pixel(9, 9, 9));  // the reset must remove it
    deliver(frame_bytes(MSG_LOGIN, concat({{7}, text_bytes(c.sent), c.others})));
    EXPECT_EQ(own_user_id, 7);
    EXPECT_STREQ(config.user_name, c.name.c_str());  // the server's name, not the configured one
    EXPECT_STREQ(roster_name(7), c.name.c_str());
    EXPECT_FALSE(roster_exists(6));
    EXPECT_EQ(chat_lines().back(), system_line(c.notice));
    EXPECT_EQ(image_checksum(&ServerCanvas), paper);
    EXPECT_EQ(image_checksum(&LocalCanvas), paper);  // rebuilt in the same frame
    roster_set_name(6, "Stale");
  }
  EXPECT_STREQ(roster_name(9), "Cy");
  EXPECT_STREQ(roster_name(2), "Dee");
}

// A rebuild draws a stroke in progress again (settled part on StrokeLayer, live
// tail on the screen); without one the screen is LocalCanvas in black bands, all
// dirty, the tool bar over it when shown. Stray, unknown and malformed messages
// change nothing. Our stroke acknowledged alone is copied, not drawn or rebuilt
// (a mark on a pixel no command draws tells). A lost connection keeps the
// pictures and what waits.
TEST_F(Session, RebuildsStrayMessagesOurAcknowledgedStrokeAndALostConnection) {
  login();
  // The user is drawing while another user's command arrives.
  const int16_t xs[] = {100, 140, 190, 230, 260, 300}, ys[] = {300, 320, 310, 350, 380, 370};
  memcpy(StrokePoints.xs, xs, sizeof xs);
  memcpy(StrokePoints.ys, ys, sizeof ys);
  StrokePoints.count = 6;
  chat_log_reset();  // no overlay lines over the picture
  deliver(stroke(5, 2, 40));
  ASSERT_EQ(StrokePoints.count, 6u);  // the stroke goes on
  EXPECT_EQ(image_checksum(&StrokeLayer), 10118796996729132916u);
  EXPECT_EQ(bitmap_checksum(BackBuffer), 7271115728209636870u);
  EXPECT_EQ(preview_phase, 0x1.dd52fap-1f);
  stroke_abandon();
  clear_to_color(ToolbarStrip, makecol32(10, 200, 30));
  dirty_list_clear();
  deliver(stroke(5, 0, 41));
  EXPECT_EQ(bitmap_checksum(BackBuffer), 7407925814520179094u);  // LocalCanvas in black bands
  EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);
  panel_visible = true;
  deliver(stroke(5, 1, 43));
  // Right of the slots, in the black band below the picture.
  EXPECT_EQ(getpixel(BackBuffer, 600, 768 - 20), makecol32(10, 200, 30));

  const uint64_t before = image_checksum(&ServerCanvas);
  const size_t lines = chat_lines().size();
  deliver(concat({frame_bytes(MSG_ACCEPTED, {1, 2, 3}), frame_bytes(MSG_ACCEPTED, {}),
                  frame_bytes(13, {1, 2, 3, 4, 5}), frame_bytes(MSG_KICK, {3}), frame_bytes(MSG_PEN, {5, 1, 2}),
                  frame_bytes(200, {})}));
  EXPECT_TRUE(connected);
  EXPECT_EQ(chat_lines().size(), lines);
  EXPECT_EQ(image_checksum(&ServerCanvas), before);
  EXPECT_EQ(image_checksum(&LocalCanvas), before);

  const uint32_t mark = pack_pixel(1, 2, 3);
  const Bytes first = our_stroke(2, 1);
  step();
  EXPECT_EQ(receive_frame(), first);
  image_row(&LocalCanvas, 0)[0] = mark;
  deliver(frame_bytes(MSG_ACCEPTED, {}));
  EXPECT_EQ(queue_count(&command_queue), 0);
  EXPECT_FALSE(received_this_frame);
  EXPECT_EQ(pixel_at(&ServerCanvas, 0, 0), mark);  // copied, not drawn
  EXPECT_EQ(pixel_at(&LocalCanvas, 0, 0), mark);   // not rebuilt
  EXPECT_EQ(count_differences(&ServerCanvas, &LocalCanvas), 0);

  our_stroke(1, 9);
  step();
  StrokePoints.count = 2;  // a stroke in progress
  const uint64_t local = image_checksum(&LocalCanvas);
  shutdown(peer, SHUT_RDWR);
  ASSERT_TRUE(readable(server_connection.socket_handle));
  step();
  EXPECT_FALSE(connected);
  EXPECT_EQ(StrokePoints.count, 0u);  // abandoned
  EXPECT_EQ(chat_lines().back(), system_line("You have been disconnected from 127.0.0.1:" +
                                             std::to_string(port)));
  EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);  // the whole screen is redrawn
  EXPECT_EQ(queue_count(&command_queue), 1);
  EXPECT_EQ(image_checksum(&LocalCanvas), local);
  close(listener);
  listener = -1;
  connect_and_login();
  EXPECT_FALSE(connected);
  EXPECT_EQ(chat_lines().back(), system_line("Unable to connect to 127.0.0.1:" +
                                             std::to_string(port) + "."));
}

// The server of this test keeps its own order of every command; after every
// frame LocalCanvas must be ServerCanvas plus our pending commands, and
// whenever everything sent has been handled, ServerCanvas must be the picture
// the server's order gives. Chat lines appear in that order too, ours at their
// acknowledgement and never at a rebuild while they wait.
TEST_F(Session, RandomisedExchangeKeepsBothCanvasesConsistent) {
  login();
  roster_set_name(5, "Bob");
  roster_set_name(9, "Cy");
  std::mt19937 gen(12345);
  Image* truth = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  Image* scratch = make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  image_copy_all(&ServerCanvas, truth);
  std::deque<Bytes> unacknowledged;  // ours, as the server received them
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
    send(frame_bytes(MSG_ACCEPTED, {}));
  };
  for (int frame_no = 0; frame_no < 120; ++frame_no) {
    SCOPED_TRACE(frame_no);
    const unsigned act = gen() % 6;
    if (act == 0) our_stroke(int(gen() % DRAWING_TYPE_COUNT), variant++);
    if (act == 1 && gen() % 3 == 0)
      send_chat_line(("line " + std::to_string(chats_sent++)).c_str());
    step();  // sends what the user made, takes what the server said before
    EXPECT_TRUE(local_canvas_consistent(scratch));
    while (readable(peer, 0)) {
      unacknowledged.push_back(receive_frame());
      ASSERT_FALSE(unacknowledged.back().empty());
    }
    // The server: a few messages in its own order.
    for (unsigned i = 0, n = gen() % 4; i < n; ++i) {
      const unsigned what = gen() % 10;
      if (what < 4) {
        Bytes theirs = stroke(gen() % 2 ? 5 : 9, int(gen() % DRAWING_TYPE_COUNT), variant++);
        apply_frames(truth, theirs.data(), theirs.size());
        send(theirs);
      } else if (what < 8 && !unacknowledged.empty()) {
        acknowledge();
      } else if (what == 8) {
        send(frame_bytes(MSG_CHAT, concat({{9}, text_bytes("chatter")})));
        spoken.push_back(spoken_line("Cy", "chatter"));
      } else if (what == 9 && gen() % 4 == 0) {
        resetCanvas(truth);
        send(frame_bytes(MSG_RESTART, {}));
      }
    }
  }
  // Drain: everything acknowledged, everything handled.
  while (!unacknowledged.empty()) acknowledge();
  for (int i = 0; i < 200 && (queue_count(&command_queue) != 0 ||
                              readable(server_connection.socket_handle, 0) ||
                              connection_received(&server_connection) != 0);
       ++i) {
    step();
    EXPECT_TRUE(local_canvas_consistent(scratch));
  }
  EXPECT_EQ(queue_count(&command_queue), 0);
  EXPECT_EQ(count_differences(truth, &ServerCanvas), 0);
  EXPECT_EQ(count_differences(truth, &LocalCanvas), 0);
  free_image(truth);
  free_image(scratch);
  Lines lines = chat_lines();
  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l[1] == '\xFC'; }),
              lines.end());
  EXPECT_EQ(lines, spoken);
}

}  // namespace

// While only our stroke waits for its acknowledgement a frame may sleep on
// the socket: the busy bar, drawn every fifth frame, takes the frame after it
// at once. The acknowledgement ends the wait; the bar erased, frames are idle.
TEST_F(Session, FramesAwaitTheAcknowledgementOnTheSocketAndIdleAfterIt) {
  BITMAP* shown = create_bitmap(1024, 768);
  screen = shown;
  login();
  chat_log_reset();
  const Bytes sent = our_stroke(0, 3);
  std::vector<int> outcomes;
  for (int i = 0; i < 12; ++i) outcomes.push_back(client_frame(FrameInput{}));
  EXPECT_EQ(receive_frame(), sent);
  send(frame_bytes(MSG_ACCEPTED, {}));
  ASSERT_TRUE(readable(server_connection.socket_handle));
  for (int i = 0; i < 3; ++i) outcomes.push_back(client_frame(FrameInput{}));
  const int A = FRAME_AWAITING, I = FRAME_IDLE;
  EXPECT_EQ(outcomes, (std::vector<int>{1, A, A, A, A, 1, A, A, A, A, 1, A, 1, I, I}));
  screen = nullptr;
  destroy_bitmap(shown);
}
