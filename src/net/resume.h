// Resuming a painter's session after its link ended, without losing or
// doubling what the painter sent.
//
// The exchange, negotiated like the checkpoint (net/checkpoint.h): a login
// whose flags byte has LOGIN_RESUMES asks for it. A login without that bit
// gets exactly what it always got.
//
// - A first login sends just the flags. A login that resumes sends, after
//   the flags, a ResumeTicket: the session's token, how many of its messages
//   the client saw accepted, and how many it still holds unaccepted.
// - The server answers with MSG_RESUME (a ResumeReply) right after its login
//   reply, before any checkpoint or command; for RESUME_BUSY it sends that
//   alone, with no login reply, and ends the link.
// - Sequence numbers are implicit: the messages a session has accepted are
//   its drawing commands and chat lines in the order the server took them
//   (over all its links, and on across a restart vote for a session present
//   at it), so the n-th acknowledgement is message n. On RESUME_TAKEN the
//   client takes the first (accepted - acked) of the messages it holds
//   unaccepted as accepted and drops them (the board it receives has them),
//   and sends the rest again, in order, after the login request.
// - To a client that negotiated it, the server sends MSG_GOODBYE before it
//   ends a link that is not to be taken up again by itself (a kick, a refused
//   login, a full board).
#pragma once
#include <cstddef>
#include <cstdint>

struct Message;

constexpr uint8_t LOGIN_RESUMES = 2;

constexpr size_t RESUME_TOKEN_SIZE = 16;
struct ResumeTicket {
  uint8_t token[RESUME_TOKEN_SIZE];
  uint32_t acked;    // the session's messages the client saw accepted
  uint32_t pending;  // sent or drawn since, not accepted yet
};
constexpr size_t RESUME_TICKET_SIZE = RESUME_TOKEN_SIZE + 8;

enum ResumeOutcome : uint8_t {
  RESUME_NEW = 0,        // a new session, this token its own (a first login)
  RESUME_TAKEN = 1,      // the session goes on; accepted says how far it got
  RESUME_REFUSED = 2,    // the ticket is not honoured (the reason says why): a new session;
                         // what the client held is dropped, with a notice
  RESUME_RESTARTED = 3,  // the board was restarted since: a new session; what the client
                         // held was drawn on a board that is gone, and is dropped
  RESUME_BUSY = 4,       // the session is still on another link: no login; try again later
};
constexpr size_t RESUME_REASON_MAX = 200;
struct ResumeReply {
  uint8_t outcome;
  uint8_t token[RESUME_TOKEN_SIZE];  // the session's token from now on
  uint32_t accepted;                 // RESUME_TAKEN: the session's messages accepted in all
  char reason[RESUME_REASON_MAX + 1];
};

enum GoodbyeReason : uint8_t {
  GOODBYE_KICKED = 1,
  GOODBYE_REFUSED = 2,  // the board is full, or the address has too many users on it
};

// What follows the name's NUL in a login payload: nothing, the flags byte, or
// the flags with LOGIN_RESUMES and a ticket. 0 for anything else. has_ticket
// tells whether a ticket came.
int login_tail_read(const uint8_t* tail, size_t length, uint8_t* flags, ResumeTicket* ticket, bool* has_ticket);
// Appends the ticket's bytes to a login request. 1 on success.
int resume_ticket_put(Message* m, const ResumeTicket& ticket);

// MSG_RESUME's payload: outcome, token, accepted (32-bit little-endian),
// reason (NUL-terminated, at most RESUME_REASON_MAX characters).
int resume_reply_put(Message* m, const ResumeReply& reply);
// 0 when the payload is not a reply: too short, an unknown outcome, no NUL,
// or a reason too long.
int resume_reply_get(const uint8_t* payload, size_t length, ResumeReply* reply);
