#include "net/resume.h"

#include <cstdio>
#include <cstring>

#include "net/message.h"

namespace {

uint32_t get32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

int put_token(Message* m, const uint8_t* token) {
  for (size_t i = 0; i < RESUME_TOKEN_SIZE; ++i)
    if (!message_put_byte(m, token[i])) return 0;
  return 1;
}

}  // namespace

int login_tail_read(const uint8_t* tail, size_t length, uint8_t* flags, ResumeTicket* ticket, bool* has_ticket) {
  *flags = length ? tail[0] : 0;
  *has_ticket = false;
  if (length <= 1) return 1;
  if (!(*flags & LOGIN_RESUMES) || length != 1 + RESUME_TICKET_SIZE) return 0;
  memcpy(ticket->token, tail + 1, RESUME_TOKEN_SIZE);
  ticket->acked = get32(tail + 1 + RESUME_TOKEN_SIZE);
  ticket->pending = get32(tail + 1 + RESUME_TOKEN_SIZE + 4);
  *has_ticket = true;
  return 1;
}

int resume_ticket_put(Message* m, const ResumeTicket& ticket) {
  return put_token(m, ticket.token) && message_put_int(m, ticket.acked) && message_put_int(m, ticket.pending);
}

int resume_reply_put(Message* m, const ResumeReply& reply) {
  char reason[RESUME_REASON_MAX + 1];
  snprintf(reason, sizeof reason, "%s", reply.reason);
  return message_put_byte(m, reply.outcome) && put_token(m, reply.token) && message_put_int(m, reply.accepted) &&
         message_put_string(m, reason);
}

int resume_reply_get(const uint8_t* payload, size_t length, ResumeReply* reply) {
  const size_t fixed = 1 + RESUME_TOKEN_SIZE + 4;
  if (length <= fixed || payload[0] > RESUME_BUSY) return 0;
  const uint8_t* text = payload + fixed;
  const size_t text_length = length - fixed;
  const void* nul = memchr(text, 0, text_length);
  if (!nul || static_cast<const uint8_t*>(nul) != text + text_length - 1 || text_length - 1 > RESUME_REASON_MAX)
    return 0;
  reply->outcome = payload[0];
  memcpy(reply->token, payload + 1, RESUME_TOKEN_SIZE);
  reply->accepted = get32(payload + 1 + RESUME_TOKEN_SIZE);
  memcpy(reply->reason, text, text_length);
  return 1;
}
