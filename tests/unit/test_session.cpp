// Login, dispatch and the reconciliation of the two canvases, against a
// scripted server on 127.0.0.1.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>

#include "app/client.h"
#include "app/config.h"
#include "ui/roster.h"
#include "app/session.h"
#include "net/command.h"
#include "paint/canvas.h"
#include "session_fixture.h"
#include "test_support.h"
#include "ui/chat_input.h"
#include "ui/chat_log.h"
#include "paint/dirty_rect.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/toolbar.h"
#include "paint/stroke.h"

using namespace testsupport;

namespace {

class Session : public SessionFixture {};

// Marks one pixel of LocalCanvas that no command draws: it shows whether
// LocalCanvas was copied onto ServerCanvas or rebuilt from it.
constexpr int MARK_X = 0, MARK_Y = 0;
void mark_local_canvas() { putpixel(LocalCanvas, MARK_X, MARK_Y, makecol32(1, 2, 3)); }
bool has_mark(BITMAP* b) { return getpixel(b, MARK_X, MARK_Y) == makecol32(1, 2, 3); }

// Bitmaps a test makes for its expectations, destroyed when it ends.
struct Bmp : std::unique_ptr<BITMAP, void (*)(BITMAP*)> {
  explicit Bmp(BITMAP* b) : unique_ptr(b, destroy_bitmap) {}
  operator BITMAP*() const { return get(); }
};
Bmp copy_of(BITMAP* b) {
  Bmp c(create_bitmap_ex(32, b->w, b->h));
  blit(b, c, 0, 0, 0, 0, b->w, b->h);
  return c;
}

void apply_frame(BITMAP* canvas, const Bytes& f) {
  Message m;
  ASSERT_EQ(message_from_frame(&m, f.data()), 1);
  apply_command(canvas, &m);
  message_free(&m);
}

TEST_F(Session, LoginRequestGoesOutWithTheFirstPollAndWaitsInTheQueue) {
  connect_and_login();
  EXPECT_TRUE(connected);
  ASSERT_EQ(queue_count(&command_queue), 1);
  EXPECT_EQ(queue_at(&command_queue, 0)->type, uint32_t(MSG_LOGIN));
  EXPECT_EQ(chat_lines(), std::vector<std::string>{system_line(
                              "Attempting to connect to 127.0.0.1:" +
                              std::to_string(server.port()) + ". . .")});
  ASSERT_TRUE(server.accept_client());
  EXPECT_FALSE(server.has_unread());  // nothing leaves before the first poll
  step();
  EXPECT_EQ(server.receive(11), (Bytes{0x06, 0x08, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E,
                                       0x6E, 0x00}));
  EXPECT_FALSE(server.has_unread());
  // The request is acknowledged like a command; drawing it does nothing.
  Bmp before = copy_of(LocalCanvas);
  deliver(frame(MSG_ACCEPTED, {}));
  EXPECT_EQ(queue_count(&command_queue), 0);
  EXPECT_EQ(count_differences(before, LocalCanvas), 0);
  EXPECT_EQ(count_differences(before, ServerCanvas), 0);
}

TEST_F(Session, UnreachableServerLeavesTheClientOffline) {
  const uint16_t port = server.port();
  server.stop_listening();
  connect_and_login();
  EXPECT_FALSE(connected);
  EXPECT_EQ(queue_count(&command_queue), 0);
  const std::string where = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(chat_lines(),
            (std::vector<std::string>{system_line("Attempting to connect to " + where + ". . ."),
                                      system_line("Unable to connect to " + where + ".")}));
}

TEST_F(Session, LoginReplyReplacesTheRosterAndNoticesTheUsersPresent) {
  struct Case {
    std::string sent, name;
    Bytes others;
    std::string notice;
  } cases[] = {
      {"Annabel", "Annabel", {0}, "Logged in as Annabel."},
      {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNO", {0}, "Logged in as ABCDEFGHIJKLMNO."},
      {"Annabel", "Annabel", concat({{4}, text_bytes("Bob"), {0}}),
       "Logged in as Annabel, Bob is already here."},
      // No terminating 0: the end of the payload ends the list too.
      {"Annabel", "Annabel", concat({{4}, text_bytes("Bob"), {9}, text_bytes("Cy"), {2}, text_bytes("Dee")}),
       "Logged in as Annabel, 3 users are already here."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.notice);
    session_reset();
    session_set_clock([] { return TEST_NOW; });
    server.drop_client();
    chat_log_reset();
    strcpy(config.user_name, "Ann");
    roster_set_name(5, "Stale");
    connect_and_login();
    ASSERT_TRUE(server.accept_client());
    step();
    server.receive_frame();
    // Something on ServerCanvas that the reset must remove.
    rectfill(ServerCanvas, 10, 10, 50, 50, makecol32(9, 9, 9));
    deliver(frame(MSG_LOGIN, concat({{7}, text_bytes(c.sent), c.others})));
    EXPECT_EQ(own_user_id, 7);
    EXPECT_STREQ(config.user_name, c.name.c_str());  // the server's name, not the configured one
    EXPECT_STREQ(roster_name(7), c.name.c_str());
    EXPECT_FALSE(roster_exists(5));
    EXPECT_EQ(chat_lines().back(), system_line(c.notice));
    Bmp fresh(reset_canvas());
    EXPECT_EQ(count_differences(fresh, ServerCanvas), 0);
    EXPECT_EQ(count_differences(fresh, LocalCanvas), 0);  // rebuilt in the same frame
  }
  EXPECT_STREQ(roster_name(9), "Cy");
  EXPECT_STREQ(roster_name(2), "Dee");
}

TEST_F(Session, UsersJoiningAndLeaving) {
  login();
  const size_t before = chat_lines().size();
  deliver(concat({frame(MSG_USER_JOINED, concat({{4}, text_bytes("Bob")})),
                  frame(MSG_USER_JOINED, concat({{6}, text_bytes("Carla-with-a-long-name")}))}));
  EXPECT_STREQ(roster_name(4), "Bob");
  EXPECT_STREQ(roster_name(6), "Carla-with-a-lo");
  deliver(concat({frame(MSG_USER_LEFT, {4}), frame(MSG_USER_LEFT, {42})}));
  EXPECT_FALSE(roster_exists(4));
  EXPECT_TRUE(roster_exists(6));
  std::vector<std::string> lines = chat_lines();
  lines.erase(lines.begin(), lines.begin() + long(before));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       system_line("Bob has joined."), system_line("Carla-with-a-lo has joined."),
                       system_line("Bob has left."), system_line("??? has left.")}));
}

TEST_F(Session, OurStrokeAcknowledgedAloneIsCopiedWithoutARebuild) {
  login();
  const Bytes ours = our_stroke(2, 1);
  step();
  EXPECT_EQ(server.receive_frame(), ours);
  mark_local_canvas();
  deliver(frame(MSG_ACCEPTED, {}));
  EXPECT_EQ(queue_count(&command_queue), 0);
  EXPECT_FALSE(received_this_frame);
  EXPECT_TRUE(has_mark(ServerCanvas));  // copied, not drawn
  EXPECT_TRUE(has_mark(LocalCanvas));   // not rebuilt
  EXPECT_EQ(count_differences(ServerCanvas, LocalCanvas), 0);
}

TEST_F(Session, OurStrokeAcknowledgedAfterAnotherUsersCommandIsDrawnAndRebuilt) {
  login();
  const Bytes ours = our_stroke(1, 2);
  step();
  EXPECT_EQ(server.receive_frame(), ours);
  const Bytes theirs = other_stroke(5, 3, 3);
  Bmp expected = copy_of(ServerCanvas);
  apply_frame(expected, theirs);
  apply_frame(expected, ours);
  mark_local_canvas();
  deliver(concat({theirs, frame(MSG_ACCEPTED, {})}));
  EXPECT_TRUE(received_this_frame);
  EXPECT_FALSE(has_mark(ServerCanvas));
  EXPECT_FALSE(has_mark(LocalCanvas));  // rebuilt from ServerCanvas
  EXPECT_EQ(count_differences(expected, ServerCanvas), 0);
  EXPECT_EQ(count_differences(expected, LocalCanvas), 0);
}

TEST_F(Session, OurChatLineIsShownOnceAtItsAcknowledgement) {
  login();
  roster_set_name(5, "Bob");
  send_chat_line("hello there");
  const Bytes ours = our_stroke(0, 8);  // queued behind the chat line
  step();
  EXPECT_EQ(server.receive_frame(), frame(MSG_CHAT, concat({{1}, text_bytes("hello there")})));
  EXPECT_EQ(server.receive_frame(), ours);
  const std::string line = spoken_line("Ann", "hello there");
  for (unsigned v = 0; v < 3; ++v) {  // rebuilds while the line waits
    deliver(other_stroke(5, int(v), 20 + v));
    EXPECT_EQ(count_line(line), 0);
    expect_invariant();
  }
  deliver(concat({frame(MSG_CHAT, concat({{5}, text_bytes("hi")})), frame(MSG_ACCEPTED, {})}));
  EXPECT_EQ(count_line(line), 1);
  EXPECT_EQ(chat_lines().back(), line);
  EXPECT_EQ(count_line(spoken_line("Bob", "hi")), 1);
  deliver(other_stroke(5, 2, 30));
  deliver(frame(MSG_ACCEPTED, {}));
  EXPECT_EQ(count_line(line), 1);
  EXPECT_EQ(queue_count(&command_queue), 0);
  expect_invariant();
}

TEST_F(Session, StrayAcceptanceUnknownAndMalformedMessagesChangeNothing) {
  login();
  Bmp before = copy_of(ServerCanvas);
  const size_t lines = chat_lines().size();
  deliver(concat({frame(MSG_ACCEPTED, {1, 2, 3}), frame(MSG_ACCEPTED, {}), frame(13, {1, 2, 3, 4, 5}),
                  frame(MSG_KICK, {3}), frame(MSG_PEN, {5, 1, 2}), frame(200, {})}));
  EXPECT_EQ(queue_count(&command_queue), 0);
  EXPECT_TRUE(connected);
  EXPECT_EQ(chat_lines().size(), lines);
  EXPECT_EQ(count_differences(before, ServerCanvas), 0);
  EXPECT_EQ(count_differences(before, LocalCanvas), 0);
}

// The user is drawing while another user's command arrives.
void start_test_stroke() {
  const int16_t xs[] = {100, 140, 190, 230, 260, 300}, ys[] = {300, 320, 310, 350, 380, 370};
  StrokePoints.count = 6;
  for (int i = 0; i < 6; ++i) {
    StrokePoints.xs[i] = xs[i];
    StrokePoints.ys[i] = ys[i];
  }
  current_rgb[0] = 200, current_rgb[1] = 30, current_rgb[2] = 40;
  preview_phase = 0;
  tail_rect = {};
}

TEST_F(Session, StrokeInProgressIsDrawnAgainOverTheRebuiltPicture) {
  login();
  start_test_stroke();
  const StrokePointList& p = StrokePoints;
  chat_log_reset();  // no overlay lines over the picture
  deliver(other_stroke(5, 2, 40));
  ASSERT_EQ(StrokePoints.count, 6u);  // the stroke goes on
  Bmp layer = copy_of(LocalCanvas);
  const float phase = drawStrokePreview(layer, 200, 30, 40, p.xs, p.ys, 6, 0, 3, 0, nullptr);
  EXPECT_EQ(count_differences(layer, StrokeLayer), 0);
  EXPECT_GT(count_differences(LocalCanvas, StrokeLayer), 0);
  EXPECT_EQ(preview_phase, phase);
  // The screen: the layer in its black bands, the live tail over it.
  Bmp screen_expected(create_bitmap_ex(32, TEST_SCREEN_W, TEST_SCREEN_H));
  clear_to_color(screen_expected, makecol32(0, 0, 0));
  blit(layer, screen_expected, 0, 0, ox, oy, CANVAS_WIDTH, CANVAS_HEIGHT);
  Bmp without_tail = copy_of(screen_expected);
  drawStrokePreview(screen_expected, 200, 30, 40, p.xs, p.ys, 6, 3, 6, phase, nullptr);
  EXPECT_GT(count_differences(without_tail, screen_expected), 0);
  EXPECT_EQ(count_differences(screen_expected, BackBuffer), 0);
}

TEST_F(Session, NoStrokeInProgressRecomposesFromLocalCanvas) {
  login();
  chat_log_reset();
  deliver(other_stroke(5, 0, 41));
  Bmp screen_expected(create_bitmap_ex(32, TEST_SCREEN_W, TEST_SCREEN_H));
  clear_to_color(screen_expected, makecol32(0, 0, 0));
  blit(LocalCanvas, screen_expected, 0, 0, ox, oy, CANVAS_WIDTH, CANVAS_HEIGHT);
  EXPECT_EQ(count_differences(screen_expected, BackBuffer), 0);
  EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);
}

TEST_F(Session, ShownToolBarIsDrawnAgainOverTheRebuiltPicture) {
  login();
  ToolbarStrip = create_bitmap_ex(32, TEST_SCREEN_W, 42);
  clear_to_color(ToolbarStrip, makecol32(10, 200, 30));
  // Right of the slots, in the black band below the picture.
  const int x = 600, y = TEST_SCREEN_H - 20;
  deliver(other_stroke(5, 1, 42));
  EXPECT_EQ(getpixel(BackBuffer, x, y), makecol32(0, 0, 0));
  panel_visible = true;
  deliver(other_stroke(5, 1, 43));
  EXPECT_EQ(getpixel(BackBuffer, x, y), makecol32(10, 200, 30));
  panel_visible = false;
  destroy_bitmap(ToolbarStrip);
  ToolbarStrip = nullptr;
}

int clock_calls = 0;
int clock_calls_per_second = 0;
time_t counting_clock() { return TEST_NOW + (clock_calls++) / clock_calls_per_second; }

TEST_F(Session, MessageHandlingStopsWhenTheClockSecondChanges) {
  login();
  // t0 and one loop check per message fall into one second: two per step.
  clock_calls = 0;
  clock_calls_per_second = 3;
  session_set_clock(counting_clock);
  server.send(concat({frame(MSG_USER_JOINED, concat({{2}, text_bytes("B")})),
                      frame(MSG_USER_JOINED, concat({{3}, text_bytes("C")})),
                      frame(MSG_USER_JOINED, concat({{4}, text_bytes("D")}))}));
  ASSERT_TRUE(wait_readable(server_connection.socket_handle));
  step();
  EXPECT_TRUE(roster_exists(2));
  EXPECT_TRUE(roster_exists(3));
  EXPECT_FALSE(roster_exists(4));  // waits in the receive buffer
  clock_calls = 0;
  step();
  EXPECT_TRUE(roster_exists(4));
}

TEST_F(Session, LostConnectionEndsTheSessionButKeepsThePictures) {
  login();
  our_stroke(1, 9);
  step();
  start_test_stroke();
  Bmp local = copy_of(LocalCanvas);
  server.drop_client();
  for (int i = 0; i < 50 && connected; ++i) {
    wait_readable(server_connection.socket_handle);
    step();
  }
  EXPECT_FALSE(connected);
  EXPECT_EQ(StrokePoints.count, 0u);  // abandoned
  EXPECT_EQ(chat_lines().back(), system_line("You have been disconnected from 127.0.0.1:" +
                                             std::to_string(server.port())));
  EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);  // the whole screen is redrawn
  EXPECT_EQ(queue_count(&command_queue), 1);
  EXPECT_EQ(count_differences(local, LocalCanvas), 0);
}

// The server of this test keeps its own order of every command; after every
// frame LocalCanvas must be ServerCanvas plus our pending commands, and
// whenever everything sent has been handled, ServerCanvas must be the picture
// the server's order gives.
TEST_F(Session, RandomisedExchangeKeepsBothCanvasesConsistent) {
  login();
  roster_set_name(5, "Bob");
  roster_set_name(9, "Cy");
  std::mt19937 gen(12345);
  Bmp truth = copy_of(ServerCanvas);
  std::deque<Bytes> unacknowledged;  // ours, as the server received them
  unsigned variant = 100;
  int chats_sent = 0, acks_seen = 0;
  for (int frame_no = 0; frame_no < 120; ++frame_no) {
    SCOPED_TRACE(frame_no);
    // The user.
    const unsigned act = gen() % 6;
    if (act == 0) our_stroke(int(gen() % DRAWING_TOOLS), variant++);
    if (act == 1 && gen() % 3 == 0) {
      send_chat_line(("line " + std::to_string(chats_sent++)).c_str());
    }
    step();  // sends what the user made, takes what the server said before
    expect_invariant();
    while (server.has_unread()) {
      Bytes f = server.receive_frame();
      ASSERT_FALSE(f.empty());
      unacknowledged.push_back(f);
    }
    // The server: a few messages in its own order.
    Bytes out;
    const unsigned n = gen() % 4;
    for (unsigned i = 0; i < n; ++i) {
      const unsigned what = gen() % 10;
      if (what < 4) {
        Bytes theirs = other_stroke(gen() % 2 ? 5 : 9, int(gen() % DRAWING_TOOLS), variant++);
        apply_frame(truth, theirs);
        out = concat({out, theirs});
      } else if (what < 8 && !unacknowledged.empty()) {
        if (unacknowledged.front()[0] != MSG_CHAT) apply_frame(truth, unacknowledged.front());
        unacknowledged.pop_front();
        ++acks_seen;
        out = concat({out, frame(MSG_ACCEPTED, {})});
      } else if (what == 8) {
        out = concat({out, frame(MSG_CHAT, concat({{9}, text_bytes("chatter")}))});
      } else if (what == 9 && gen() % 4 == 0) {
        resetCanvas(truth);
        out = concat({out, frame(MSG_RESTART, {})});
      }
    }
    if (!out.empty()) server.send(out);
  }
  // Drain: everything acknowledged, everything handled.
  Bytes acks;
  for (size_t i = 0; i < unacknowledged.size(); ++i) acks = concat({acks, frame(MSG_ACCEPTED, {})});
  for (const Bytes& f : unacknowledged)
    if (f[0] != MSG_CHAT) apply_frame(truth, f);
  server.send(acks);
  for (int i = 0; i < 200 && (queue_count(&command_queue) != 0 ||
                              readable_now(server_connection.socket_handle) ||
                              connection_received(&server_connection) != 0);
       ++i) {
    step();
    expect_invariant();
  }
  EXPECT_EQ(queue_count(&command_queue), 0);
  EXPECT_EQ(count_differences(truth, ServerCanvas), 0);
  EXPECT_EQ(count_differences(truth, LocalCanvas), 0);
  for (int i = 0; i < chats_sent; ++i)
    EXPECT_EQ(count_line(spoken_line("Ann", "line " + std::to_string(i))), 1);
  EXPECT_GT(acks_seen, 10);
}

}  // namespace
