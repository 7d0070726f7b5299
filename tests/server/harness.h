// Runs easel-server as a child process on a free port of 127.0.0.1 in a
// temporary directory, and talks to it over real sockets.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct Frame {
  int type = -1;  // -1: none (closed or timed out)
  Bytes payload;
  Bytes bytes() const;
};

Bytes frame_bytes(int type, const Bytes& payload);
Bytes login_frame(const std::string& name);
Bytes chat_frame(int user_id, const std::string& text);
// A pen stroke of user_id with `points` points starting at (x, y).
Bytes pen_frame(int user_id, int points, int x = 10, int y = 20, uint8_t red = 200);
Bytes brush_frame(int user_id, int points, uint32_t seed);
Bytes motd_frame(const std::string& password, const std::string& text);
Bytes concat(const std::vector<Bytes>& parts);
Bytes text_bytes(const std::string& s);

struct TestServer {
  std::string dir;  // temporary directory holding the board and the log
  std::string board;
  pid_t pid = -1;
  int port = 0;
  long file_size_limit = 0;  // RLIMIT_FSIZE of the server when not 0

  TestServer();  // creates the directory only
  ~TestServer();
  // Starts the server with --port 0 --board <dir>/board.easel and the extra arguments.
  bool start(const std::vector<std::string>& extra = {});
  int stop(int signal_number = 15);  // exit status, or 128 + signal when killed
  std::string log() const;
  bool wait_for_log(const std::string& text, double seconds = 5) const;
  Bytes board_file() const;
  void write_board(const Bytes& contents) const;
  std::vector<std::string> files() const;
};

struct TestClient {
  int fd = -1;
  Bytes buffer;
  explicit TestClient(int port, int receive_buffer = 0);
  ~TestClient();
  bool send(const Bytes& data);
  // The next frame, or type -1 when the connection closed or nothing came in time.
  Frame read_frame(double seconds = 5);
  // True when the server closes the connection within the time (frames before it are skipped).
  bool closed_within(double seconds = 5);
  // Logs in and reads the reply up to its MSG_ACCEPTED; returns the frames in between.
  std::vector<Frame> login(const std::string& name, int* user_id = nullptr);
  // Reads frames until one of the given type arrives; returns the frames before it.
  std::vector<Frame> read_until(int type, double seconds = 5);
};

// A chat line's text.
std::string chat_text(const Frame& f);
