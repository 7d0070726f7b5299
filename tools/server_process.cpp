#include "server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

int server_process_open(ServerProcess* s, const std::string& binary) {
  char pattern[] = "/tmp/easel-server-XXXXXX";
  if (!mkdtemp(pattern)) return 0;
  s->binary = binary;
  s->dir = pattern;
  s->board = s->dir + "/board.easel";
  return 1;
}

int server_process_start(ServerProcess* s, const std::vector<std::string>& extra) {
  std::string log_path = s->dir + "/server.log";
  // A fresh log for each start, so that the port read below is this run's.
  unlink(log_path.c_str());
  s->pid = fork();
  if (s->pid < 0) return 0;
  if (s->pid == 0) {
    int out = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) _exit(127);
    dup2(out, 1);
    dup2(out, 2);
    if (s->file_size_limit > 0) {
      // The soft limit only, so that the parent can lift it while the server runs.
      rlimit limit = {rlim_t(s->file_size_limit), RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (s->address_space_limit > 0) {
      rlimit limit = {rlim_t(s->address_space_limit), rlim_t(s->address_space_limit)};
      setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<std::string> args = {s->binary, "--port", "0", "--bind", "127.0.0.1", "--board",
                                     s->board};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // The server logs its port once it listens: connections are accepted from then on.
  for (int i = 0; i < 1000; i++) {
    std::string text = server_process_log(s);
    size_t at = text.find("listening on ");
    size_t end = at == std::string::npos ? at : text.find('\n', at);
    if (end != std::string::npos) {
      size_t colon = text.rfind(':', end);
      s->port = colon > at ? atoi(text.c_str() + colon + 1) : 0;
      return s->port > 0;
    }
    if (waitpid(s->pid, nullptr, WNOHANG) == s->pid) {
      s->pid = -1;
      return 0;
    }
    timespec pause = {0, 10000000};
    nanosleep(&pause, nullptr);
  }
  server_process_stop(s, SIGKILL);
  return 0;
}

int server_process_stop(ServerProcess* s, int signal_number) {
  if (s->pid <= 0) return -1;
  kill(s->pid, signal_number);
  int status = 0;
  waitpid(s->pid, &status, 0);
  s->pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string server_process_log(const ServerProcess* s) {
  std::ifstream in(s->dir + "/server.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int server_process_web_port(const ServerProcess* s) {
  const std::string mark = "web view on http://127.0.0.1:";
  for (int i = 0; i < 500; i++) {
    std::string text = server_process_log(s);
    size_t at = text.find(mark);
    if (at != std::string::npos) return atoi(text.c_str() + at + mark.size());
    timespec pause = {0, 10000000};
    nanosleep(&pause, nullptr);
  }
  return 0;
}

void server_process_close(ServerProcess* s) {
  server_process_stop(s, SIGKILL);
  if (s->dir.empty()) return;
  std::string command = "rm -rf '" + s->dir + "'";
  if (system(command.c_str()) != 0) fprintf(stderr, "cannot remove %s\n", s->dir.c_str());
  s->dir.clear();
}

static long status_kib(const ServerProcess* s, const char* field) {
  if (s->pid <= 0) return -1;
  std::ifstream in("/proc/" + std::to_string(s->pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return atol(line.c_str() + strlen(field));
  return -1;
}

long server_process_peak_kib(const ServerProcess* s) { return status_kib(s, "VmHWM:"); }
long server_process_rss_kib(const ServerProcess* s) { return status_kib(s, "VmRSS:"); }

int loopback_connect(const std::string& source, int port, int receive_window) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (receive_window > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_window, sizeof receive_window);
  sockaddr_in from = {}, to = {};
  from.sin_family = to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string loopback_address(int family, int n) {
  return "127." + std::to_string(family) + "." + std::to_string(n / 250) + "." +
         std::to_string(n % 250 + 1);
}
