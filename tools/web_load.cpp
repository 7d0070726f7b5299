#include "web_load.h"

#include <time.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <memory>
#include <string>
#include <thread>

#include "net/layout.h"
#include "net/message.h"
#include "server_process.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {

double now_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::vector<uint8_t> login_message(int index) {
  Message m;
  message_init(&m, MSG_LOGIN);
  message_put_int(&m, LOGIN_CONSTANT);
  message_put_string(&m, ("web" + std::to_string(index)).c_str());
  std::vector<uint8_t> frame(FRAME_HEADER_SIZE + message_length(&m));
  message_write_frame(&m, frame.data());
  message_free(&m);
  return frame;
}

struct WebUser;

}  // namespace

struct WebLoad {
  asio::io_context io;
  std::thread thread;
  std::vector<std::shared_ptr<WebUser>> users;
  int port = 0;
  double rate = 5;
  StrokeMaker make_stroke;
  std::atomic<int> logged_in{0};
  std::atomic<bool> failed{false}, finishing{false};
  std::atomic<double> start{0}, stop{0};
};

namespace {

struct WebUser : std::enable_shared_from_this<WebUser> {
  WebLoad* w;
  int index;
  uint32_t random;
  websocket::stream<beast::tcp_stream> ws;
  asio::steady_timer timer;
  beast::flat_buffer message;
  std::vector<uint8_t> input;
  std::deque<std::vector<uint8_t>> outgoing;
  bool writing = false, logged_in = false;
  int id = 0;
  double next_send = 0;
  std::deque<double> in_flight;
  long sent = 0, acknowledged = 0;
  std::vector<double> latencies;

  WebUser(WebLoad* load, int i, uint32_t seed)
      : w(load), index(i), random(seed ? seed : 1), ws(load->io), timer(load->io) {}

  void fail() {
    if (!w->finishing) w->failed = true;
  }

  void connect() {
    beast::error_code ec;
    auto& socket = beast::get_lowest_layer(ws).socket();
    socket.open(asio::ip::tcp::v4(), ec);
    if (!ec) socket.bind({asio::ip::make_address(loopback_address(41, index)), 0}, ec);
    if (ec) return fail();
    std::string host = "127.0.0.1:" + std::to_string(w->port);
    ws.set_option(websocket::stream_base::decorator([host](websocket::request_type& r) {
      r.set(beast::http::field::origin, "http://" + host);
    }));
    ws.binary(true);
    socket.async_connect({asio::ip::make_address("127.0.0.1"), uint16_t(w->port)},
                         [self = shared_from_this(), host](beast::error_code e) {
                           if (e) return self->fail();
                           self->ws.async_handshake(host, "/ws", [self](beast::error_code e2) {
                             if (e2) return self->fail();
                             self->send(login_message(self->index));
                             self->read();
                             self->tick();
                           });
                         });
  }

  void send(std::vector<uint8_t> bytes) {
    outgoing.push_back(std::move(bytes));
    if (!writing) write_next();
  }

  void write_next() {
    if (outgoing.empty()) {
      writing = false;
      return;
    }
    writing = true;
    ws.async_write(asio::buffer(outgoing.front()), [self = shared_from_this()](beast::error_code e, size_t) {
      if (e) return self->fail();
      self->outgoing.pop_front();
      self->write_next();
    });
  }

  void read() {
    ws.async_read(message, [self = shared_from_this()](beast::error_code e, size_t) {
      if (e) return self->fail();
      self->take(now_seconds());
      self->read();
    });
  }

  void take(double now) {
    auto data = static_cast<const uint8_t*>(message.data().data());
    input.insert(input.end(), data, data + message.size());
    message.clear();
    size_t at = 0;
    while (size_t size = frame_complete_size(input.data() + at, input.size() - at)) {
      int type = input[at];
      if (type == MSG_LOGIN && !logged_in) {
        id = input[at + 3];
      } else if (type == MSG_ACCEPTED && !logged_in) {
        logged_in = true;
        w->logged_in++;
      } else if (type == MSG_ACCEPTED && !in_flight.empty()) {
        latencies.push_back(now - in_flight.front());
        in_flight.pop_front();
        acknowledged++;
      }
      at += size;
    }
    input.erase(input.begin(), input.begin() + long(at));
  }

  // A stroke each period between start and stop, the first at a random phase.
  void tick() {
    double now = now_seconds(), start = w->start, stop = w->stop;
    if (start > 0 && next_send == 0) next_send = start + (random % 1000) / 1000.0 / w->rate;
    while (logged_in && start > 0 && now >= next_send && next_send < stop) {
      send(w->make_stroke(&random, id));
      in_flight.push_back(now);
      sent++;
      next_send += 1 / w->rate;
    }
    if (start > 0 && next_send >= stop) return;
    double wait = start > 0 && logged_in ? next_send - now : 0.01;
    timer.expires_after(std::chrono::microseconds(int64_t(std::max(wait, 0.0) * 1e6)));
    timer.async_wait([self = shared_from_this()](beast::error_code e) {
      if (!e) self->tick();
    });
  }
};

}  // namespace

WebLoad* web_load_start(int port, int users, double rate, uint32_t seed, StrokeMaker make_stroke) {
  WebLoad* w = new WebLoad;
  w->port = port;
  w->rate = rate > 0 ? rate : 5;
  w->make_stroke = std::move(make_stroke);
  for (int i = 0; i < users; i++) {
    w->users.push_back(std::make_shared<WebUser>(w, i, seed * 7919u + uint32_t(i) * 104729u));
    w->users.back()->connect();
  }
  w->thread = std::thread([w] {
    auto work = asio::make_work_guard(w->io);
    w->io.run();
  });
  return w;
}

int web_load_logged_in(WebLoad* w, double seconds) {
  for (double end = now_seconds() + seconds; now_seconds() < end && !w->failed;) {
    if (w->logged_in == int(w->users.size())) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

void web_load_paint(WebLoad* w, double start, double stop) {
  w->stop = stop;
  w->start = start;
}

WebLoadResult web_load_finish(WebLoad* w, double give_up) {
  for (bool waiting = true; waiting && now_seconds() < give_up && !w->failed;) {
    std::atomic<bool> outstanding{false}, checked{false};
    asio::post(w->io, [&] {
      for (auto& u : w->users) outstanding = outstanding || !u->in_flight.empty();
      checked = true;
    });
    while (!checked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    waiting = outstanding;
  }
  w->finishing = true;
  asio::post(w->io, [w] {
    for (auto& u : w->users) {
      beast::error_code ignored;
      beast::get_lowest_layer(u->ws).socket().close(ignored);
      u->timer.cancel();
    }
    w->io.stop();
  });
  w->thread.join();
  WebLoadResult r;
  r.failed = w->failed;
  for (auto& u : w->users) {
    r.sent += u->sent;
    r.acknowledged += u->acknowledged;
    r.latencies.insert(r.latencies.end(), u->latencies.begin(), u->latencies.end());
  }
  w->users.clear();
  delete w;
  return r;
}
