// A real easel-server (tools/server_process) and clients talking to it over
// real sockets of 127.0.0.1 through the client's own connection code.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "attacks.h"
#include "app/connection.h"
#include "net_test_support.h"
#include "server_process.h"

struct Frame {
  int type = -1;  // -1: none (closed or timed out)
  Bytes payload;
  Bytes bytes() const;
};

using nettest::concat;
using nettest::frame_bytes;
using nettest::text_bytes;
Bytes chat_frame(int user_id, const std::string& text);
// A pen stroke of user_id with `points` points starting at (x, y).
Bytes pen_frame(int user_id, int points, int x = 10, int y = 20, uint8_t red = 200);
Bytes brush_frame(int user_id, int points, uint32_t seed);

// The server of one test: its directory goes with it.
struct TestServer : ServerProcess {
  TestServer() { server_process_open(this, EASEL_SERVER_PATH); }
  ~TestServer() { server_process_close(this); }
  bool start(const std::vector<std::string>& extra = {}) { return server_process_start(this, extra); }
  // The web side's port, once the server has logged it (0 when it does not).
  int web_port() const { return server_process_web_port(this); }
  int stop(int signal_number = 15) { return server_process_stop(this, signal_number); }
  std::string log() const { return server_process_log(this); }
  bool wait_for_log(const std::string& text, double seconds = 5) const;
  Bytes board_file() const { return file(board.substr(dir.size() + 1)); }
  Bytes file(const std::string& name) const;
  void write_board(const Bytes& contents) const;
  void write_file(const std::string& name, const Bytes& contents) const;
  // Names of the files in the directory that start with prefix.
  std::vector<std::string> files(const std::string& prefix) const;
};

// Each client comes from a loopback address of its own (another host) unless
// a source is given.
struct TestClient {
  Connection conn;
  ByteBuffer in, out;
  explicit TestClient(int port, const std::string& source = "");
  ~TestClient() {
    connection_close(&conn);
    byte_buffer_release(&in);
    byte_buffer_release(&out);
  }
  // Returns once every byte is handed to the socket (reading meanwhile).
  bool send(const Bytes& data);
  // The next frame, or type -1 when the connection closed or nothing came in time.
  Frame read_frame(double seconds = 5);
  // True when the server closes the connection within the time (frames before it are skipped).
  bool closed_within(double seconds = 5);
  // Logs in and reads the reply up to its acknowledgement; returns the frames in between.
  std::vector<Frame> login(const std::string& name, int* user_id = nullptr);
  // Reads frames until one of the given type arrives; returns the frames before it.
  std::vector<Frame> read_until(int type, double seconds = 5);
};

// What every client does alike, over its own send and read_frame (a TCP user
// here, a browser in web_client.h).
template <class Client>
std::vector<Frame> read_frames_until(Client* c, int type, double seconds) {
  std::vector<Frame> before;
  for (Frame f; (f = c->read_frame(seconds)).type != type && f.type >= 0;) before.push_back(f);
  return before;
}
template <class Client>
std::vector<Frame> log_in(Client* c, const std::string& name, int* user_id) {
  c->send(login_frame(name));
  std::vector<Frame> frames = read_frames_until(c, 255, 5);
  if (user_id) *user_id = !frames.empty() && frames[0].type == 6 ? frames[0].payload[0] : -1;
  return frames;
}

using Clients = std::vector<std::unique_ptr<TestClient>>;
// n users named a, b, c... logged in (ids 1 to n on a fresh server); each has
// read the joins of the later ones.
Clients logged_in(const TestServer& server, int n);
// What a user logging in now gets after the reply: the board, then the message of the day.
std::vector<Bytes> seen_by_new_user(int port);
