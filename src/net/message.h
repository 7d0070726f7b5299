// The Message record, its field encodings and the frame format:
// type byte, 16-bit little-endian payload length, payload.
#pragma once
#include <cstddef>
#include <cstdint>

struct ByteBuffer;

enum MessageType : uint32_t {
  MSG_PEN = 0,
  MSG_PENCIL = 1,
  MSG_BRUSH = 2,
  MSG_CHALK = 3,
  MSG_SMUDGE = 4,
  MSG_CHAT = 5,
  MSG_LOGIN = 6,
  MSG_USER_JOINED = 7,
  MSG_USER_LEFT = 8,
  MSG_RESTART = 9,
  MSG_KICK = 10,
  MSG_MOTD = 11,
  MSG_STAMP = 12,
  // Beyond the basic exchange, sent only to a client that asked at login:
  MSG_CHECKPOINT = 20,  // the board's picture after its first commands (net/checkpoint.h)
  MSG_RESUME = 21,      // the answer to a login that resumes, or asks to (net/resume.h)
  MSG_GOODBYE = 22,     // the link ends and is not to be taken up again by itself
  MSG_ACCEPTED = 255,
};

struct Message {
  uint32_t type;
  uint8_t* begin;
  uint8_t* read_pos;
  uint8_t* end;
  uint8_t* limit;
};

constexpr int FRAME_HEADER_SIZE = 3;
constexpr size_t FRAME_PAYLOAD_MAX = 65535;

int message_init(Message* m, uint32_t type);
void message_free(Message* m);

int message_put_byte(Message* m, int value);
int message_put_short(Message* m, int value);
int message_put_int(Message* m, uint32_t value);
int message_put_scaled(Message* m, double value);
int message_put_string(Message* m, const char* text);

int message_get_byte(Message* m);
uint16_t message_get_short(Message* m);
uint32_t message_get_int(Message* m);
float message_get_scaled(Message* m);
void message_get_string(Message* m, char* buffer, uint16_t capacity);

uint16_t message_tell(const Message* m);
void message_seek(Message* m, uint16_t offset);
uint16_t message_remaining(const Message* m);

// Appends the frame of m to out (whole, or nothing of it). 0 when it cannot
// be stored or the payload is longer than the 16-bit length can tell.
int message_send(Message* m, ByteBuffer* out);
// Takes the complete frame at the front of in, if there is one, into m (fresh
// storage). 0 when none is complete or its payload cannot be stored: then
// nothing is taken.
int message_receive(Message* m, ByteBuffer* in);

// Frame helpers shared by the client, the server and the tools.
// Size of the complete frame at the front of data[0..n), or 0 when incomplete.
size_t frame_complete_size(const uint8_t* data, size_t n);
// Fills m (fresh storage of exactly the payload's size) from a complete frame.
// Returns 0 when the payload cannot be stored.
int message_from_frame(Message* m, const uint8_t* frame);
// Payload length (end - begin) and the frame bytes of a message.
size_t message_length(const Message* m);
// Writes the frame (header and payload, 3 + length bytes) to out.
void message_write_frame(const Message* m, uint8_t* out);

// True for the bytes a text field may carry: space through tilde.
inline bool is_printable(int c) { return c >= 0x20 && c <= 0x7E; }
// Case folding of names and commands: ASCII letters only, whatever the locale
// (under a Turkish one the library's would not match "I" with "i").
inline int ascii_lower(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }
inline bool ascii_equal_nocase(const char* a, const char* b) {
  for (; *a && ascii_lower(static_cast<unsigned char>(*a)) == ascii_lower(static_cast<unsigned char>(*b)); ++a, ++b) {
  }
  return *a == 0 && *b == 0;
}
