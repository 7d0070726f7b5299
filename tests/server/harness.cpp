#include "harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "net/command.h"
#include "net/message.h"

static double seconds_now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

Bytes Frame::bytes() const { return frame_bytes(type, payload); }

Bytes frame_bytes(int type, const Bytes& payload) {
  Bytes out = {uint8_t(type), uint8_t(payload.size() & 0xFF), uint8_t(payload.size() >> 8)};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes text_bytes(const std::string& s) {
  Bytes out(s.begin(), s.end());
  out.push_back(0);
  return out;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes login_frame(const std::string& name) {
  return frame_bytes(6, concat({{9, 0, 0, 0}, text_bytes(name)}));
}

Bytes chat_frame(int user_id, const std::string& text) {
  return frame_bytes(5, concat({{uint8_t(user_id)}, text_bytes(text)}));
}

// Strokes are made by the client's own encoders: the server is checked
// against what clients really send.
static Bytes encoded_frame(Message* m) {
  Bytes out(FRAME_HEADER_SIZE + message_length(m));
  message_write_frame(m, out.data());
  message_free(m);
  return out;
}

static void stroke_points(int points, int x, int y, std::vector<int16_t>* xs,
                          std::vector<int16_t>* ys) {
  for (int i = 0; i < points; i++) {
    xs->push_back(int16_t(x + i));
    ys->push_back(int16_t(y + (i % 7)));
  }
}

Bytes pen_frame(int user_id, int points, int x, int y, uint8_t red) {
  std::vector<int16_t> xs, ys;
  stroke_points(points > 0 ? points : 1, x, y, &xs, &ys);
  Message m;
  encode_pen(&m, uint8_t(user_id), red, 0, 128, xs.data(), ys.data(), unsigned(xs.size()));
  Bytes frame = encoded_frame(&m);
  if (points > 0) return frame;
  // No points: the fixed fields alone.
  return frame_bytes(MSG_PEN, Bytes(frame.begin() + 3, frame.end() - 4));
}

Bytes brush_frame(int user_id, int points, uint32_t seed) {
  std::vector<int16_t> xs, ys;
  stroke_points(points, 100, 200, &xs, &ys);
  Message m;
  encode_brush(&m, uint8_t(user_id), 10, 20, 30, 8.812f, 152.6f, xs.data(), ys.data(),
               unsigned(points));
  Bytes frame = encoded_frame(&m);
  for (int i = 0; i < 4; i++) frame[4 + i] = uint8_t(seed >> (8 * i));  // the seed given
  return frame;
}

Bytes motd_frame(const std::string& password, const std::string& text) {
  return frame_bytes(11, concat({text_bytes(password), text_bytes(text)}));
}

std::string chat_text(const Frame& f) {
  if (f.type != 5 || f.payload.size() < 2) return "";
  return std::string(f.payload.begin() + 1, f.payload.end() - 1);
}

// ---- server ----

TestServer::TestServer() {
  char pattern[] = "/tmp/easel-server-test-XXXXXX";
  dir = mkdtemp(pattern);
  board = dir + "/board.easel";
}

TestServer::~TestServer() {
  if (pid > 0) stop(9);
  std::string command = "rm -rf '" + dir + "'";
  if (system(command.c_str()) != 0) fprintf(stderr, "cannot remove %s\n", dir.c_str());
}

bool TestServer::start(const std::vector<std::string>& extra) {
  std::string log_path = dir + "/server.log";
  // A fresh log each time, so that the port read below is this run's.
  unlink(log_path.c_str());
  pid = fork();
  if (pid == 0) {
    int out = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(out, 2);
    if (file_size_limit > 0) {
      // Only the soft limit: the test lifts it again while the server runs.
      rlimit limit = {rlim_t(file_size_limit), RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<std::string> args = {EASEL_SERVER_PATH, "--port", "0", "--board", board};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  double end = seconds_now() + 10;
  while (seconds_now() < end) {
    std::string text = log();
    size_t at = text.find("listening on ");
    size_t colon = at == std::string::npos ? at : text.find(':', at);
    size_t eol = colon == std::string::npos ? colon : text.find('\n', colon);
    if (eol != std::string::npos) {
      port = atoi(text.c_str() + colon + 1);
      return port > 0;
    }
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int TestServer::stop(int signal_number) {
  if (pid <= 0) return -1;
  kill(pid, signal_number);
  int status = 0;
  waitpid(pid, &status, 0);
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string TestServer::log() const {
  std::ifstream in(dir + "/server.log");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TestServer::wait_for_log(const std::string& text, double seconds) const {
  double end = seconds_now() + seconds;
  do {
    if (log().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (seconds_now() < end);
  return false;
}

Bytes TestServer::board_file() const {
  std::ifstream in(board, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void TestServer::write_board(const Bytes& contents) const {
  std::ofstream out(board, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(contents.data()), std::streamsize(contents.size()));
}

std::vector<std::string> TestServer::files() const {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  return names;
}

// ---- client ----

TestClient::TestClient(int port, int receive_buffer) {
  fd = socket(AF_INET, SOCK_STREAM, 0);
  if (receive_buffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    fd = -1;
  }
}

TestClient::~TestClient() {
  if (fd >= 0) close(fd);
}

bool TestClient::send(const Bytes& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

Frame TestClient::read_frame(double seconds) {
  double end = seconds_now() + seconds;
  for (;;) {
    if (buffer.size() >= 3) {
      size_t length = buffer[1] | (buffer[2] << 8);
      if (buffer.size() >= 3 + length) {
        Frame f;
        f.type = buffer[0];
        f.payload.assign(buffer.begin() + 3, buffer.begin() + 3 + long(length));
        buffer.erase(buffer.begin(), buffer.begin() + 3 + long(length));
        return f;
      }
    }
    double left = end - seconds_now();
    if (left <= 0 || fd < 0) return Frame();
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, int(left * 1000) + 1) <= 0) continue;
    uint8_t block[65536];
    ssize_t n = recv(fd, block, sizeof block, 0);
    if (n <= 0) return Frame();
    buffer.insert(buffer.end(), block, block + n);
  }
}

bool TestClient::closed_within(double seconds) {
  double end = seconds_now() + seconds;
  for (;;) {
    double left = end - seconds_now();
    if (left <= 0) return false;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, int(left * 1000) + 1) <= 0) continue;
    uint8_t block[65536];
    ssize_t n = recv(fd, block, sizeof block, 0);
    if (n <= 0) return true;
  }
}

std::vector<Frame> TestClient::login(const std::string& name, int* user_id) {
  send(login_frame(name));
  Frame reply = read_frame();
  if (user_id) *user_id = reply.type == 6 && !reply.payload.empty() ? reply.payload[0] : -1;
  std::vector<Frame> frames = {reply};
  if (reply.type != 6) return frames;
  std::vector<Frame> rest = read_until(255);
  frames.insert(frames.end(), rest.begin(), rest.end());
  return frames;
}

std::vector<Frame> TestClient::read_until(int type, double seconds) {
  std::vector<Frame> before;
  for (;;) {
    Frame f = read_frame(seconds);
    if (f.type == type || f.type < 0) return before;
    before.push_back(f);
  }
}
