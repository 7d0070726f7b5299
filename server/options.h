// Command-line options of easel-server.
#pragma once
#include <cstddef>
#include <string>

struct ServerOptions {
  int port = 2020;
  std::string bind_address;  // empty: every interface
  std::string board_path = "board.easel";
  std::string motd_password;  // empty: the message of the day cannot be changed
  size_t max_pending_output = 8u << 20;
  double rate = 50;    // commands per second per user; 0 turns the limit off
  double burst = 100;  // commands a user may send at once before the limit applies
  // Drawing cost a user's commands may put on every client (net/draw_cost.h),
  // in microseconds of one core per second, and what may be saved up; 0 turns
  // the budget off.
  double draw_rate = 100000;
  double draw_burst = 500000;
  int max_connections = 1000;
  int login_timeout = 30;  // seconds to send the login request
  bool sync = false;       // fdatasync the board before acknowledging
  int http_port = -1;      // the web view's port; -1: no web view
};

// Fills options from argv. Returns 1 to run, 0 when the program should exit
// with *exit_status (after --help, or an error already printed to stderr).
int options_parse(ServerOptions* options, int argc, char** argv, int* exit_status);
const char* options_usage();
