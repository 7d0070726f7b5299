// The client's session with the board, below any user interface: the login,
// what the server sends, our commands until the server accepts them, the
// server's picture and ours, the roster and the chat lines.
//
// Bytes go in and out through the record's two buffers; the caller moves them
// over whatever carries them, passes the time and says how a picture starts.
// A frame is board_frame_start, the bytes that arrived, board_session_step,
// then whatever the user did (session/painter.h); frame tells what changed.
// Everything one painter's session holds is in the record: two sessions in
// one process share nothing. The session opens no
// socket and no file and needs no thread (command runs draw on the calling
// thread where no other can be made).
//
// While connected, at the end of every step and after every submit, LocalCanvas
// is ServerCanvas with every queued command but chat lines drawn over it,
// oldest first. A session that resumes (take_resume) keeps that also while
// offline: what is submitted then is queued too, and the queue outlives the
// link.
//
// Resuming (net/resume.h). The queue holds our messages the server has not
// been seen to accept, oldest first, behind the login request until that is
// accepted. While the link is down, and from a login until the server's resume
// reply, what is submitted is held in the queue, drawn on LocalCanvas and not
// framed. The reply decides: RESUME_TAKEN drops the first (accepted - acked)
// held as accepted (a chat line shown then, a stroke needs no drawing: the
// board that follows has it) and frames the rest, in order; RESUME_NEW after
// a first login (no ticket) frames them all; RESUME_NEW after a ticket,
// RESUME_REFUSED and RESUME_RESTARTED start a new session: the held ones are
// dropped with a notice that counts them and gives the server's reason;
// RESUME_BUSY ends the link (it may be taken up again). A server that sends
// no reply after its login reply does not resume: what is held is sent as
// after a first login. Every acceptance of
// ours but a login's counts in acked. A MSG_GOODBYE marks the link as one not
// to be taken up again by itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "net/byte_buffer.h"
#include "net/checkpoint.h"
#include "net/command_queue.h"
#include "net/message.h"
#include "net/resume.h"
#include "net/wire_limits.h"
#include "paint/image.h"
#include "session/chat_log.h"
#include "session/colour_choice.h"
#include "session/roster.h"
#include "session/stroke_capture.h"
#include "session/tool_values.h"

constexpr int USER_NAME_FIELD = MAX_NAME_CHARS + 1;  // names travel in 16-byte fields
constexpr int SERVER_NAME_SIZE = 256;

// Why the link ended; each has its notice, written by the session.
enum LinkEnd {
  LINK_OPEN = 0,
  LINK_LOST,           // the carrier closed or failed: "You have been disconnected from ..."
  LINK_SEND_FAILED,    // a command could not be framed: "Disconnected from ..."
  LINK_OUT_OF_MEMORY,  // a sent command could not be kept: "Out of memory; forced to disconnect from ..."
  LINK_BAD_CHECKPOINT, // the board's checkpoint was damaged: "The board from ... came damaged; disconnected"
  LINK_BUSY,           // RESUME_BUSY: "Our session on ... is still open on another link; trying again later"
};

// What one frame changed, from board_frame_start on.
struct FrameReport {
  bool received_this_frame;  // ServerCanvas got what LocalCanvas lacked: LocalCanvas was rebuilt
  bool roster_changed;       // a name, colour or position
  int lines_added;           // chat lines added
  LinkEnd disconnected;      // why the link ended this frame; LINK_OPEN while it lasts
  bool resumed;              // RESUME_TAKEN: the session goes on where the last link left it
};

// What a session that resumes keeps across its links.
struct ResumeState {
  bool has_token;
  uint8_t token[RESUME_TOKEN_SIZE];  // the server's latest for this session
  uint32_t acked;                    // our messages (not logins) the session saw accepted
  bool reply_due;                    // the login asked: what we hold waits for the reply
  bool ticket_sent;                  // and carried a ticket
  bool reply_next;                   // the login reply came: the resume reply is the next message
  uint8_t goodbye;                   // the GoodbyeReason said on this link; 0 none
};

struct BoardSession {
  // Given by the caller before board_session_open.
  void (*reset_canvas)(Image* canvas);  // gives a picture its empty state; null: the paper
  // Given before board_session_login: ask for the board as a checkpoint
  // (net/checkpoint.h), which is drawn on the paper: only when a picture
  // starts as the paper.
  bool take_checkpoint;
  // Given before board_session_login: ask to resume the session after a link
  // end, and keep what is submitted while offline (net/resume.h). Without it
  // the login's bytes and everything after are as before resuming existed.
  bool take_resume;
  // The caller decodes a checkpoint's PNG itself, off its busy thread (a
  // browser): handling waits for board_session_checkpoint_picture.
  bool checkpoint_by_caller;
  // The caller's clock in whole seconds, which dates chat lines and notices:
  // set by board_frame_start, or by a caller that speaks between frames.
  time_t now;
  // The link: logged in, or the login request on its way, until it ends for good.
  bool connected;
  uint8_t own_user_id;  // from the login reply; 0 before
  char user_name[USER_NAME_FIELD];  // sent at login, then the name the server gave us
  char server_name[SERVER_NAME_SIZE];  // named in the notices, with server_port
  uint16_t server_port;
  CommandQueue command_queue;  // ours, sent (or held) and not yet accepted, oldest first
  ResumeState resume;
  ByteBuffer incoming;         // from the server, not handled yet
  ByteBuffer outgoing;         // framed for the server, not sent yet
  // The pictures, CANVAS_WIDTH x CANVAS_HEIGHT.
  Image ServerCanvas;  // as the server confirmed it
  Image LocalCanvas;   // ServerCanvas with our pending commands over it
  Roster roster;
  ChatLog chat_log;
  FrameReport frame;
  bool checkpoint_due;          // asked for and may still come: after the login reply, before any command
  bool checkpoint_waiting;      // whole, its picture awaited from the caller
  CheckpointIntake checkpoint;  // its bytes as they come
  // Bytes of the board's history a checkpoint took the place of, less its own
  // bytes on the wire: what arrived stands for this many bytes more.
  int64_t checkpoint_shift;
  // The painter's choices and the stroke in progress, kept across links.
  ColourChoice colour;
  ToolSettings tools;
  StrokeCapture stroke;
  Image StrokeLayer;  // LocalCanvas with the stroke's settled segments, while one is drawn
};

// Makes the pictures (ServerCanvas empty, LocalCanvas a copy) with nothing
// else: not connected, no one present, no lines, the start colour and tool
// values. reset_canvas and now are kept; every other field is overwritten. 1
// on success; on failure nothing is held.
int board_session_open(BoardSession* s);
// Frees everything the session holds; reset_canvas and now stay.
void board_session_close(BoardSession* s);
// Back to how open left it but for the pictures, which keep their pixels, and
// the painter's colour and tools: not connected, no id, empty queue and
// buffers, no one present, no lines, no stroke.
void board_session_reset(BoardSession* s);

// Starts the link: frames the login request into outgoing and queues it (the
// server accepts it like a command), then counts as connected. The names are
// kept for the notices; commands left from an earlier link are dropped, or
// with take_resume kept behind the new request (an old request replaced),
// which carries the ticket once the server gave a token. 1 on success; else
// nothing is sent and the session stays unconnected.
int board_session_login(BoardSession* s, const char* user_name, const char* server_name, uint16_t server_port);
// Our messages not accepted yet (sent or held; the login request not
// counted), and of them the drawing commands in *strokes when not null.
int board_session_pending(const BoardSession* s, int* strokes);
// Whether a link that ended may be taken up again by itself: not after a
// MSG_GOODBYE (a kick, a refused login, a full board). 0 while connected.
int board_session_may_rejoin(const BoardSession* s);

// Bytes from the server, in the order they came; handled by the steps. 1 on
// success, 0 when they cannot be stored (nothing is).
int board_session_received(BoardSession* s, const uint8_t* bytes, size_t length);
// The bytes for the server not sent yet (*length of them, null when none),
// and the first count of them gone to the server.
const uint8_t* board_session_unsent(const BoardSession* s, size_t* length);
void board_session_sent(BoardSession* s, size_t count);

// Starts a frame at now (whole seconds): its report is empty.
void board_frame_start(BoardSession* s, time_t now);
// The frame's messages, only while connected: those received are handled in
// order until clock() reaches deadline (any unit, the caller's: the next
// second for a frame loop, a few milliseconds for a browser's main thread),
// checked before each message, never before one is handled, so a long backlog
// is spread over several frames. Consecutive drawing commands are drawn as one
// run; then LocalCanvas is rebuilt when ServerCanvas got something it lacks,
// and StrokeLayer under a stroke in progress with it.
void board_session_step(BoardSession* s, double (*clock)(), double deadline);
// LocalCanvas := ServerCanvas + every queued command but chat lines.
void board_session_rebuild(BoardSession* s);

// With checkpoint_by_caller: the PNG of a whole checkpoint whose picture is
// awaited (*length bytes), or null.
const uint8_t* board_session_checkpoint_png(const BoardSession* s, size_t* length);
// The awaited checkpoint's picture as the caller decoded it, or null for the
// session to decode it itself. Taken when it is of the board's size with the
// digest the checkpoint names (LocalCanvas rebuilt, handling goes on); else
// the link ends as for a damaged checkpoint. 1 when taken.
int board_session_checkpoint_picture(BoardSession* s, const Image* picture);

enum BoardSubmit { SUBMIT_SENT, SUBMIT_OFFLINE, SUBMIT_SEND_FAILED, SUBMIT_QUEUE_FAILED, SUBMIT_HELD };
// Our command (the session takes m): a drawing command is drawn on LocalCanvas
// at once; while connected m is framed into outgoing and queued until the
// server accepts it, when a chat line is shown and a drawing command drawn on
// ServerCanvas. SUBMIT_SEND_FAILED: it could not be framed; the caller says
// what follows. SUBMIT_QUEUE_FAILED: sent but not kept, so the link ends
// ("Out of memory; forced to disconnect from %s:%d"; a chat line is shown first).
// With take_resume, offline or before the resume reply: SUBMIT_HELD, queued
// and not framed (SUBMIT_QUEUE_FAILED when it cannot be kept: dropped, the
// link stays).
int board_session_submit(BoardSession* s, Message* m);
// A message the server does not acknowledge (a vote, the message of the day),
// framed into outgoing and freed. 1 on success; 0 when not connected or it
// could not be framed.
int board_session_send(BoardSession* s, Message* m);
// Ends the link: not connected, unhandled and unsent bytes dropped, a stroke
// in progress dropped, the notice shown with the server's name and port. The
// pictures, the roster and the queue stay as they are (a session that resumes
// sends the queue again after its next login).
void board_session_disconnect(BoardSession* s, LinkEnd why);

// A chat line now: spoken by name, or a system line when name is null.
void board_session_add_line(BoardSession* s, const char* name, const char* text);
// A printf-style system line, at most 511 characters.
void board_session_notice(BoardSession* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
