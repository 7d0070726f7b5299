// Browser users for easel-load: painters on the server's WebSocket (the
// --http port), each from a loopback address of its own (127.41.x.y) with
// the server's own Origin, as the page connects. They run on a thread of
// their own (Boost.Beast's client), log in, paint a stroke per message at a
// steady rate while the run lasts, and time their acknowledgements.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

struct WebLoad;

// A stroke frame for the user id, from the random state given (advanced).
using StrokeMaker = std::function<std::vector<uint8_t>(uint32_t* random, int user_id)>;

// Connects and logs in users browsers; nullptr when the thread cannot start.
WebLoad* web_load_start(int port, int users, double rate, uint32_t seed, StrokeMaker make_stroke);
// Waits until every user has logged in: 1, or 0 when one failed or the time ran out.
int web_load_logged_in(WebLoad* w, double seconds);
// They paint from start to stop (times of the monotonic clock, in seconds).
void web_load_paint(WebLoad* w, double start, double stop);

struct WebLoadResult {
  long sent = 0, acknowledged = 0;
  std::vector<double> latencies;  // seconds, of every acknowledged stroke
  bool failed = false;            // a connection failed or closed
};
// Waits until every stroke is acknowledged (or until give_up), then closes
// everything and frees w.
WebLoadResult web_load_finish(WebLoad* w, double give_up);
