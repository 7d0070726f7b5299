// The desktop client's link to a scripted server on 127.0.0.1: the login over
// the socket, what a rebuild shows, a lost connection, and frames that wait
// for an acknowledgement.
#include "server_link_fixture.h"
#include "ui/stroke_input.h"
#include "ui/toolbar.h"

using namespace testsupport;

namespace {

// A rebuild draws a stroke in progress again (settled part on StrokeLayer, live
// tail on the screen); without one the screen is LocalCanvas in black bands, all
// dirty, the tool bar over it when shown. A lost connection drops the stroke in
// progress and redraws the screen; it keeps the pictures and what waits. A
// server that cannot be reached is named.
TEST_F(ServerLink, RebuildsUnderAStrokeAndTheToolBarAndALostConnection) {
  login();
  // The user is drawing while another user's command arrives.
  const int16_t xs[] = {100, 140, 190, 230, 260, 300}, ys[] = {300, 320, 310, 350, 380, 370};
  memcpy(board.stroke.points.xs, xs, sizeof xs);
  memcpy(board.stroke.points.ys, ys, sizeof ys);
  board.stroke.points.count = 6;
  chat_log_reset();  // no overlay lines over the picture
  deliver(stroke_frame(5, 2, 40));
  ASSERT_EQ(board.stroke.points.count, 6u);  // the stroke goes on
  EXPECT_EQ(image_checksum(&StrokeLayer), 10118796996729132916u);
  EXPECT_EQ(bitmap_checksum(BackBuffer), 7271115728209636870u);
  EXPECT_EQ(board.stroke.phase, 0x1.dd52fap-1f);
  stroke_abandon(&board.stroke);
  clear_to_color(ToolbarStrip, makecol32(10, 200, 30));
  dirty_list_clear();
  deliver(stroke_frame(5, 0, 41));
  EXPECT_EQ(bitmap_checksum(BackBuffer), 7407925814520179094u);  // LocalCanvas in black bands
  EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);
  panel_visible = true;
  deliver(stroke_frame(5, 1, 43));
  // Right of the slots, in the black band below the picture.
  EXPECT_EQ(getpixel(BackBuffer, 600, 768 - 20), makecol32(10, 200, 30));
  panel_visible = false;

  const Bytes ours = our_stroke(1, 9);
  step();
  EXPECT_EQ(receive_frame(), ours);
  board.stroke.points.count = 2;  // a stroke in progress
  const uint64_t local = image_checksum(&LocalCanvas);
  shutdown(peer, SHUT_RDWR);
  ASSERT_TRUE(readable(server_connection.socket_handle));
  dirty_list_clear();
  step();
  EXPECT_FALSE(board.connected);
  EXPECT_EQ(server_connection.socket_handle, -1);
  EXPECT_EQ(board.stroke.points.count, 0u);  // abandoned
  EXPECT_EQ(chat_lines().back(), system_line("You have been disconnected from 127.0.0.1:" + std::to_string(port)));
  EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);  // the whole screen is redrawn
  EXPECT_EQ(queue_count(&board.command_queue), 1);
  EXPECT_EQ(image_checksum(&LocalCanvas), local);
  close(listener);
  listener = -1;
  connect_and_login();
  EXPECT_FALSE(board.connected);
  EXPECT_EQ(chat_lines().back(), system_line("Unable to connect to 127.0.0.1:" + std::to_string(port) + "."));
}

// While only our stroke waits for its acknowledgement a frame may sleep on
// the socket: the busy bar, drawn every fifth frame, takes the frame after it
// at once. The acknowledgement ends the wait; the bar erased, frames are idle.
// When our stroke cannot be framed the link ends and the frame closes the socket.
TEST_F(ServerLink, FramesAwaitTheAcknowledgementOnTheSocketAndIdleAfterIt) {
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

  // A command that cannot be framed ends the link; the next frame closes the socket.
  Message huge;
  message_init(&huge, MSG_PEN);
  for (int i = 0; i < 70000; ++i) message_put_byte(&huge, 0);
  ASSERT_EQ(board_session_submit(&board, &huge), SUBMIT_SEND_FAILED);
  board_session_disconnect(&board, LINK_SEND_FAILED);
  client_frame(FrameInput{});
  EXPECT_FALSE(board.connected);
  EXPECT_EQ(server_connection.socket_handle, -1);
  const std::string server = "127.0.0.1:" + std::to_string(port);
  const Lines said = chat_lines();
  EXPECT_EQ(Lines(said.end() - 2, said.end()),
            (Lines{system_line("Disconnected from " + server), system_line("Reconnecting to " + server + "... (0 strokes waiting)")}));
  screen = nullptr;
  destroy_bitmap(shown);
}

// A lost link is taken up again by itself after 0.5 s, never waiting on the
// connect: the login carries the ticket, the server's count skips the stroke
// it took and the one drawn offline goes out after its reply; "Back on" is
// said. After a goodbye the link is not taken up again.
TEST_F(ServerLink, ALostLinkComesBackByItselfWithItsTicketAndNotAfterAGoodbye) {
  EXPECT_EQ((std::vector<double>{rejoin_delay(0), rejoin_delay(1), rejoin_delay(2), rejoin_delay(3), rejoin_delay(4),
                                 rejoin_delay(5), rejoin_delay(6), rejoin_delay(40)}),
            (std::vector<double>{0.5, 1, 2, 4, 8, 15, 30, 30}));
  login();
  const std::string server = "127.0.0.1:" + std::to_string(port);
  const Bytes taken = our_stroke(1, 9);
  step();
  EXPECT_EQ(receive_frame(), taken);
  close(peer);
  peer = -1;
  ASSERT_TRUE(readable(server_connection.socket_handle));
  step();
  ASSERT_FALSE(board.connected);
  server_link_retry(100);
  EXPECT_EQ(chat_lines().back(), system_line("Reconnecting to " + server + "... (1 strokes waiting)"));
  const Bytes offline = stroke_frame(1, 3, 12);
  Message m = frame_message(offline);
  EXPECT_EQ(board_session_submit(&board, &m), SUBMIT_HELD);
  server_link_retry(100.4);
  EXPECT_FALSE(readable(listener, 50));
  server_link_retry(100.5);
  network_follow_session();  // as a frame does: the connect under way stays
  ASSERT_TRUE(readable(listener));
  peer = accept(listener, nullptr, nullptr);
  const timeval second = {1, 0};
  setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
  for (int i = 0; i < 100 && !board.connected; ++i) {
    network_follow_session();
    server_link_retry(100.6);
  }
  ASSERT_TRUE(board.connected);
  step();
  EXPECT_EQ(receive_frame(), concat({{0x06, 0x21, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E, 0x6E, 0x00, 0x03},
                                     Bytes(RESUME_TOKEN_SIZE, 7), le32(0), le32(2)}));
  deliver(frame_bytes(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})));
  deliver(resume_frame(RESUME_TAKEN, 8, 1));
  EXPECT_EQ(chat_lines().back(), system_line("Back on " + server + "."));
  step();
  EXPECT_EQ(receive_frame(), offline);
  for (const Bytes& f : {taken, frame_bytes(MSG_ACCEPTED, {}), frame_bytes(MSG_ACCEPTED, {})}) deliver(f);
  EXPECT_EQ(queue_count(&board.command_queue), 0);

  deliver(frame_bytes(MSG_GOODBYE, {GOODBYE_KICKED}));
  shutdown(peer, SHUT_RDWR);
  ASSERT_TRUE(readable(server_connection.socket_handle));
  step();
  ASSERT_FALSE(board.connected);
  const Lines said = chat_lines();
  for (double t : {200.0, 300.0, 400.0}) server_link_retry(t);
  EXPECT_EQ(chat_lines(), said);
  EXPECT_FALSE(readable(listener, 50));
}

}  // namespace
