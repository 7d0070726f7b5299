#include "session/chat_log.h"

#include <cstdio>
#include <cstring>

bool chat_log_add(ChatLog* log, const char* name, const char* text, time_t now) {
  if (!text || !*text) return false;
  ChatLine& line = log->lines[log->head];
  if (name) {
    snprintf(line.text, sizeof line.text, "%c%c%s%c%c: %c%c%s", 0xFF, CC_NAME, *name ? name : "???",
             0xFF, CC_PLAIN, 0xFF, CC_TEXT, text);
  } else {
    snprintf(line.text, sizeof line.text, "%c%c%s", 0xFF, CC_SYSTEM, text);
  }
  line.length = static_cast<int>(strlen(line.text));
  line.shown_since = now;
  line.state = LINE_NEW;
  log->head = (log->head + 1) % CHAT_LOG_SLOTS;
  if (log->head == log->oldest) log->oldest = (log->oldest + 1) % CHAT_LOG_SLOTS;
  ++log->added;
  return true;
}

bool chat_log_expire(ChatLog* log, time_t now) {
  bool running = false, changed = false;
  for (int i = log->oldest; i != log->head; i = (i + 1) % CHAT_LOG_SLOTS) {
    ChatLine& line = log->lines[i];
    if (line.state == LINE_NEW) {
      line.state = LINE_SHOWN;
      running = true;
      changed = true;
    } else if (running) {
      // Only the oldest line still shown has a running timer.
      if (line.state == LINE_SHOWN) line.shown_since = now;
    } else if (line.state == LINE_SHOWN) {
      double until = static_cast<double>(line.shown_since) + line.length * 0.05 + 0.5;
      if (static_cast<long long>(until) < static_cast<long long>(now)) {
        line.state = LINE_EXPIRED;
        changed = true;
      } else {
        running = true;
      }
    }
  }
  return changed;
}

void chat_log_clear(ChatLog* log) { memset(log, 0, sizeof *log); }
