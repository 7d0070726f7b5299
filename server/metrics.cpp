#include "metrics.h"

#include <cstdio>
#include <cstring>

void metrics_add(std::atomic<int64_t>* counter, int64_t amount) {
  counter->fetch_add(amount, std::memory_order_relaxed);
}

void metrics_latency(ServerMetrics* m, int64_t count, double seconds) {
  int bucket = 0;
  while (bucket < LATENCY_BUCKETS && seconds > LATENCY_BOUNDS[bucket]) bucket++;
  metrics_add(&m->latency_counts[bucket], count);
  metrics_add(&m->latency_micros, int64_t(seconds * 1e6 * double(count)));
}

static void line(std::string* out, const char* name, const char* type, const char* help,
                 int64_t value) {
  char text[512];
  snprintf(text, sizeof text, "# HELP %s %s\n# TYPE %s %s\n%s %lld\n", name, help, name, type,
           name, static_cast<long long>(value));
  *out += text;
}

static int64_t get(const std::atomic<int64_t>& a) { return a.load(std::memory_order_relaxed); }

std::string metrics_text(const ServerMetrics* m) {
  std::string out;
  line(&out, "easel_users", "gauge", "Users logged in.", get(m->users));
  line(&out, "easel_connections", "gauge", "Open connections, logged in or not.",
       get(m->connections));
  line(&out, "easel_board_bytes", "gauge", "Size of the board file.", get(m->board_bytes));
  line(&out, "easel_board_commands", "gauge", "Drawing commands on the board.",
       get(m->board_commands));
  line(&out, "easel_commands_relayed_total", "counter", "Drawing commands relayed.",
       get(m->relayed));
  line(&out, "easel_commands_acknowledged_total", "counter",
       "Commands and chat lines acknowledged.", get(m->acknowledged));
  line(&out, "easel_received_bytes_total", "counter", "Bytes received from clients.",
       get(m->bytes_in));
  line(&out, "easel_sent_bytes_total", "counter", "Bytes sent to clients.", get(m->bytes_out));
  line(&out, "easel_restarts_total", "counter", "Restart votes that passed.", get(m->restarts));
  static const char* const reasons[LEFT_REASONS] = {"closed", "protocol", "overflow",
                                                    "timeout", "error", "kicked", "refused"};
  out += "# HELP easel_disconnects_total Connections ended, by reason.\n"
         "# TYPE easel_disconnects_total counter\n";
  char text[160];
  for (int i = 0; i < LEFT_REASONS; i++) {
    snprintf(text, sizeof text, "easel_disconnects_total{reason=\"%s\"} %lld\n", reasons[i],
             static_cast<long long>(get(m->disconnects[i])));
    out += text;
  }
  out += "# HELP easel_resume_logins_total Logins that negotiated resuming, by outcome.\n"
         "# TYPE easel_resume_logins_total counter\n";
  static const char* const outcomes[RESUME_BUSY + 1] = {"new", "taken", "refused", "restarted", "busy"};
  for (int i = 0; i <= RESUME_BUSY; i++) {
    snprintf(text, sizeof text, "easel_resume_logins_total{outcome=\"%s\"} %lld\n", outcomes[i],
             static_cast<long long>(get(m->resumes[i])));
    out += text;
  }
  out += "# HELP easel_ack_latency_seconds From reading a command to sending its acknowledgement.\n"
         "# TYPE easel_ack_latency_seconds histogram\n";
  int64_t cumulative = 0;
  for (int i = 0; i <= LATENCY_BUCKETS; i++) {
    cumulative += get(m->latency_counts[i]);
    if (i < LATENCY_BUCKETS)
      snprintf(text, sizeof text, "easel_ack_latency_seconds_bucket{le=\"%g\"} %lld\n",
               LATENCY_BOUNDS[i], static_cast<long long>(cumulative));
    else
      snprintf(text, sizeof text, "easel_ack_latency_seconds_bucket{le=\"+Inf\"} %lld\n",
               static_cast<long long>(cumulative));
    out += text;
  }
  snprintf(text, sizeof text,
           "easel_ack_latency_seconds_sum %.6f\neasel_ack_latency_seconds_count %lld\n",
           double(get(m->latency_micros)) * 1e-6, static_cast<long long>(cumulative));
  out += text;
  return out;
}
