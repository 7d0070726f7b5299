// A browser's side of the WebSocket (Boost.Beast's client, kept out of the
// tests' headers): connects from a loopback address of its own, sends binary
// or text messages, and reads the server's messages as frames, checking that
// every message holds whole frames. Every wait is bounded.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

struct WebClient {
  // The handshake's HTTP status: 101 once open; 0 when the connection closed first.
  int status = 0;
  bool whole_frames = true;  // every message received held whole frames only
  int messages = 0;          // messages received
  // origin: the Origin field, "" for none (as a client that is no browser);
  // receive_window: the socket's receive buffer when not 0; forwarded: an
  // X-Forwarded-For field, as a proxy adds it.
  WebClient(int port, const std::string& source = "", const std::string& origin = "",
            int receive_window = 0, const std::string& forwarded = "");
  ~WebClient();
  bool send(const Bytes& bytes, bool binary = true);
  // The first part of a message, the rest never sent, then a close.
  bool send_part_and_close(const Bytes& part);
  Frame read_frame(double seconds = 5);
  std::vector<Frame> login(const std::string& name, int* user_id = nullptr);
  std::vector<Frame> read_until(int type, double seconds = 5);
  // Reads until the server closes; its close code (0: none came in time, or
  // the connection ended without one), the frames before it skipped.
  int close_code(double seconds = 10);
  struct Impl;
  std::unique_ptr<Impl> impl;
};

// What the server logs as a browser's origin: http://127.0.0.1:PORT.
std::string own_origin(int port);
