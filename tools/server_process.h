// An easel-server run as a child process in a temporary directory of its own
// (board.easel and server.log there), on a free port of 127.0.0.1: for the
// load generator and the tests that need a real server.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

struct ServerProcess {
  std::string binary;  // path of easel-server
  std::string dir;     // the temporary directory; empty until opened
  std::string board;   // dir/board.easel
  pid_t pid = -1;
  int port = 0;
  long file_size_limit = 0;  // soft RLIMIT_FSIZE of the server when not 0
  long address_space_limit = 0;  // RLIMIT_AS of the server when not 0 (as prlimit --as)
};

// Makes the temporary directory. 1 on success.
int server_process_open(ServerProcess* s, const std::string& binary);
// Starts the server with --port 0 --bind 127.0.0.1 --board <board> and the
// extra arguments, and waits until it listens. 1 on success.
int server_process_start(ServerProcess* s, const std::vector<std::string>& extra = {});
// Sends the signal and reaps the server: its exit status, 128 + the signal
// that ended it, or -1 when none runs.
int server_process_stop(ServerProcess* s, int signal_number = 15);
// What the server has logged so far.
std::string server_process_log(const ServerProcess* s);
// The port of the web side (--http 0), once logged; 0 when it is not within 5 s.
int server_process_web_port(const ServerProcess* s);
// Kills a server still running and removes the directory.
void server_process_close(ServerProcess* s);
// The server's peak and present resident memory (VmHWM, VmRSS) in KiB; -1 when gone.
long server_process_peak_kib(const ServerProcess* s);
long server_process_rss_kib(const ServerProcess* s);
// A blocking TCP connection to 127.0.0.1:port from the loopback address
// source (127.x.y.z stands for a host of its own), with a receive window of
// that many bytes when not 0; -1 on failure.
int loopback_connect(const std::string& source, int port, int receive_window = 0);
// The n-th of a family of distinct loopback addresses: 127.family.(n / 250).(n % 250 + 1).
std::string loopback_address(int family, int n);
