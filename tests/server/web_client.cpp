#include "web_client.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>

#include "net/message.h"
#include "server_log.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

struct WebClient::Impl {
  asio::io_context io;
  websocket::stream<beast::tcp_stream> ws{io};
  Bytes received;
  int close_code = -1;  // -1: still open

  // Runs the operation started by start(done) until done or the time is up
  // (the connection is then cut).
  template <class Start>
  bool run(double seconds, Start start) {
    bool done = false;
    start(done);
    io.restart();
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
    while (!done && io.run_one_until(end) > 0) {
    }
    if (done) return true;
    beast::get_lowest_layer(ws).close();
    io.restart();
    io.run_for(std::chrono::milliseconds(100));
    return false;
  }
};

std::string own_origin(int port) { return "http://127.0.0.1:" + std::to_string(port); }

WebClient::WebClient(int port, const std::string& source, const std::string& origin, int receive_window,
                     const std::string& forwarded)
    : impl(new Impl) {
  static int clients = 0;
  beast::error_code ec;
  auto& socket = beast::get_lowest_layer(impl->ws).socket();
  socket.open(asio::ip::tcp::v4(), ec);
  if (receive_window) socket.set_option(asio::socket_base::receive_buffer_size(receive_window), ec);
  socket.bind({asio::ip::make_address(source.empty() ? loopback_address(21, clients++) : source), 0}, ec);
  socket.connect({asio::ip::make_address("127.0.0.1"), uint16_t(port)}, ec);
  if (ec) return;
  impl->ws.set_option(websocket::stream_base::decorator([origin, forwarded](websocket::request_type& r) {
    if (!origin.empty()) r.set(beast::http::field::origin, origin);
    if (!forwarded.empty()) r.set("X-Forwarded-For", forwarded);
  }));
  impl->ws.read_message_max(1 << 20);
  websocket::response_type response;
  impl->run(10, [&](bool& done) {
    impl->ws.async_handshake(response, "127.0.0.1:" + std::to_string(port), "/ws",
                             [&](beast::error_code e) {
                               done = true;
                               ec = e;
                             });
  });
  status = !ec ? 101 : ec == websocket::error::upgrade_declined ? int(response.result_int()) : 0;
  impl->ws.binary(true);
}

WebClient::~WebClient() = default;

bool WebClient::send(const Bytes& bytes, bool binary) {
  beast::error_code ec = asio::error::timed_out;
  impl->ws.binary(binary);
  impl->run(10, [&](bool& done) {
    impl->ws.async_write(asio::buffer(bytes), [&](beast::error_code e, size_t) {
      done = true;
      ec = e;
    });
  });
  return !ec;
}

bool WebClient::send_part_and_close(const Bytes& part) {
  beast::error_code ec = asio::error::timed_out;
  impl->run(10, [&](bool& done) {
    impl->ws.async_write_some(false, asio::buffer(part), [&](beast::error_code e, size_t) {
      done = true;
      ec = e;
    });
  });
  if (ec) return false;
  impl->run(10, [&](bool& done) {
    impl->ws.async_close(websocket::close_code::normal, [&](beast::error_code e) {
      done = true;
      ec = e;
    });
  });
  return !ec;
}

Frame WebClient::read_frame(double seconds) {
  Impl& m = *impl;
  auto end = now_seconds() + seconds;
  for (;;) {
    if (size_t n = frame_complete_size(m.received.data(), m.received.size())) {
      Frame f{m.received[0], Bytes(m.received.begin() + FRAME_HEADER_SIZE, m.received.begin() + long(n))};
      m.received.erase(m.received.begin(), m.received.begin() + long(n));
      return f;
    }
    if (m.close_code >= 0 || now_seconds() >= end) return Frame();
    beast::flat_buffer buffer;
    beast::error_code ec;
    if (!m.run(end - now_seconds(), [&](bool& done) {
          m.ws.async_read(buffer, [&](beast::error_code e, size_t) {
            done = true;
            ec = e;
          });
        }))
      return Frame();
    if (ec) {
      m.close_code = m.ws.reason().code;  // 0 when no close frame came
      continue;
    }
    messages++;
    auto data = static_cast<const uint8_t*>(buffer.data().data());
    size_t at = 0;
    while (size_t n = frame_complete_size(data + at, buffer.size() - at)) at += n;
    whole_frames = whole_frames && m.ws.got_binary() && at == buffer.size() && at > 0;
    m.received.insert(m.received.end(), data, data + buffer.size());
  }
}

std::vector<Frame> WebClient::login(const std::string& name, int* user_id) { return log_in(this, name, user_id); }

std::vector<Frame> WebClient::read_until(int type, double seconds) { return read_frames_until(this, type, seconds); }

int WebClient::close_code(double seconds) {
  for (double end = now_seconds() + seconds; impl->close_code < 0 && now_seconds() < end;)
    read_frame(end - now_seconds());
  return std::max(impl->close_code, 0);
}
