// Counters and gauges of the relay server, written by the relay loop and read
// by the web side's threads: every field is a relaxed atomic, so neither side
// ever waits for the other.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "net/resume.h"

enum DisconnectReason {
  LEFT_CLOSED,     // the peer closed the connection
  LEFT_PROTOCOL,   // an invalid or oversized frame
  LEFT_OVERFLOW,   // did not read its output
  LEFT_TIMEOUT,    // no login in time
  LEFT_ERROR,      // a socket error
  LEFT_KICKED,     // kicked by a vote
  LEFT_REFUSED,    // turned away: board full, its source's seats or waiting connections taken
  LEFT_REASONS
};

// Upper bounds of the acknowledgement latency buckets, in seconds.
constexpr double LATENCY_BOUNDS[] = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                     0.05,   0.1,   0.25,   0.5,   1,    2.5};
constexpr int LATENCY_BUCKETS = sizeof LATENCY_BOUNDS / sizeof LATENCY_BOUNDS[0];

struct ServerMetrics {
  std::atomic<int64_t> users{0}, connections{0}, board_bytes{0}, board_commands{0};
  std::atomic<int64_t> relayed{0}, acknowledged{0}, bytes_in{0}, bytes_out{0}, restarts{0};
  std::atomic<int64_t> disconnects[LEFT_REASONS] = {};
  std::atomic<int64_t> resumes[RESUME_BUSY + 1] = {};  // logins that negotiated resuming, by outcome (net/resume.h)
  std::atomic<int64_t> latency_counts[LATENCY_BUCKETS + 1] = {};  // the last one: above all bounds
  std::atomic<int64_t> latency_micros{0};
};

void metrics_add(std::atomic<int64_t>* counter, int64_t amount);
// count acknowledgements sent `seconds` after their commands were read.
void metrics_latency(ServerMetrics* m, int64_t count, double seconds);
// The Prometheus text exposition of every metric.
std::string metrics_text(const ServerMetrics* m);
