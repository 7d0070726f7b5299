// The wire frames inside WebSocket messages, both ways, without sockets: a
// browser's binary message must hold one or more whole frames, and the bytes
// the relay sends a browser go out as messages of whole frames. The web side
// (web_socket.cpp) and its fuzz target use these; the relay never sees a
// message, only the frames in it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// WebSocket close codes (RFC 6455) the server sends a browser.
enum SocketCloseCode {
  CLOSE_NORMAL = 1000,       // after the server's last words: kicked by a vote
  CLOSE_GOING_AWAY = 1001,   // the server stops
  CLOSE_PROTOCOL = 1002,     // broken WebSocket framing (the library's)
  CLOSE_NOT_BINARY = 1003,   // a text message
  CLOSE_BAD_FRAMES = 1007,   // a message that is not whole frames
  CLOSE_POLICY = 1008,       // the relay refused the frames or the connection's conduct
  CLOSE_TOO_BIG = 1009,      // a message over MAX_SOCKET_MESSAGE (the library's)
  CLOSE_SERVER_ERROR = 1011, // a socket error inside the server
  CLOSE_TRY_LATER = 1013,    // refused: too many connections or users, for now
};

// 0 when a received message may go to the relay as it is: binary, at most
// MAX_SOCKET_MESSAGE bytes (the library refuses longer ones before they are
// read), and one or more whole frames, none announcing a payload over
// MAX_PAYLOAD. Otherwise the close code it gets (1003, 1009, 1007); nothing of
// it is relayed.
int socket_message_check(bool binary, const uint8_t* data, size_t size);

// The bytes read from the relay for one browser, cut into messages of whole
// frames: reads of at most SOCKET_READ bytes after what is left of a frame
// begun (at most one frame less a byte), so a message has at most
// SOCKET_OUTPUT_MAX bytes and any frame fits. The buffer grows as a read
// needs it and is freed when nothing is held.
constexpr size_t SOCKET_READ = 16 * 1024;
constexpr size_t SOCKET_OUTPUT_MAX = 3 + 65535 - 1 + SOCKET_READ;
struct FrameBatcher {
  std::vector<uint8_t> bytes;
  size_t used = 0;   // bytes held
  size_t ready = 0;  // of them, the whole frames taken by batcher_take
};
// Where the next read goes, and how much it may take (0 while a batch is taken).
uint8_t* batcher_space(FrameBatcher* b, size_t* room);
void batcher_filled(FrameBatcher* b, size_t n);
// The whole frames held, as one message: its length, 0 when none is whole yet.
// They stay in place until batcher_sent.
size_t batcher_take(FrameBatcher* b);
void batcher_sent(FrameBatcher* b);
// Bytes of a frame begun and not complete.
inline size_t batcher_partial(const FrameBatcher* b) { return b->used - b->ready; }
