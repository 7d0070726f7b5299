// One connection and, once logged in, one user of the board.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "metrics.h"
#include "output_queue.h"
#include "web/web_bridge.h"

enum ClientState {
  CLIENT_LOGIN,     // waiting for the login request
  CLIENT_ACTIVE,    // logged in
  CLIENT_CLOSING,   // refused or kicked: its last output goes, then it is closed
  CLIENT_DRAINING,  // output sent and shut down; reading until the peer closes
};

struct Client {
  int fd = -1;
  unsigned serial = 0;  // connection number in the log
  std::string address;
  std::string log_key;  // its source's lines in the log are folded under this key
  ClientState state = CLIENT_LOGIN;
  int user_id = 0;  // 1..128 while logged in
  std::string name;
  bool restart_vote = false;
  bool resumes = false;  // its login negotiated the resume exchange (net/resume.h)
  struct ResumeSession* resume = nullptr;  // the session it holds while logged in
  int kick_vote = 0;  // id of the user this one votes to kick, 0 for none

  std::vector<uint8_t> input;  // bytes received and not handled yet, from input_start
  size_t input_start = 0;
  OutputQueue output;
  bool overflow = false;  // its output passed the bound: to be disconnected
  bool dirty = false;     // in the list of clients with output to send

  // Its source's buckets hold the next frame back: reading stops until resume_at.
  struct Source* source = nullptr;
  double resume_at = 0;
  bool paused = false;
  double deadline = 0;  // login timeout, or the end of draining
  double closing_since = 0;
  uint32_t epoll_events = 0;
  bool closed = false;
  bool peer_closed = false;  // the peer ended its stream: what it sent is taken, then it goes
  // Counted in the metrics when a refused or kicked client is finally closed.
  DisconnectReason leaving = LEFT_KICKED;
  // A browser bridged from the web side: told why the connection ends before
  // the relay ends its side (web_bridge.h); null for a TCP connection.
  Farewell farewell;
};
