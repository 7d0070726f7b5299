// The web side over real sockets: every endpoint, the picture against
// easel-render's, conditional and range requests, a restart, a clean stop,
// and nothing that writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sys/socket.h>

#include <cstdlib>

#include "harness.h"
#include "metrics.h"

// easel-render's picture of the server's board file as it is now.
static std::string rendered(const TestServer& s) {
  if (system((std::string(EASEL_RENDER_PATH) + " " + s.board + " " + s.dir + "/render.png").c_str()) != 0) return "";
  Bytes png = s.file("render.png");
  return std::string(png.begin(), png.end());
}

static std::string status_of(const std::string& version, size_t strokes, const char* users) {
  return "{\"version\":\"" + version + "\",\"strokes\":" + std::to_string(strokes) +
         ",\"users\":[" + users + "]}";
}

static std::string request(const std::string& method, const std::string& path, const std::string& fields = "") {
  return method + " " + path + " HTTP/1.1\r\nHost: x\r\n" + fields + "\r\n";
}

// The picture as a browser gets it: asked again as Retry-After says while it
// is being drawn (the painter runs at the lowest priority), until its tag is
// the version wanted.
static HttpAnswer picture(int port, const std::string& version) {
  HttpAnswer a;
  for (int i = 0; i < 600; i++) {
    a = http_exchange(port, request("GET", "/board.png"));
    if (a.status == 200 && http_field(a, "etag") == "\"" + version + "\"") break;
    EXPECT_TRUE(a.status == 200 || (a.status == 503 && http_field(a, "retry-after") == "1")) << a.head;
    usleep(100000);
  }
  return a;
}

// The board is read from its file in 1 MiB pieces: a board larger than one must come out whole.
TEST(WebSide, ServesTheBoardReadOnlyAndFollowsARestart) {
  TestServer server;
  const Bytes on_disk = concat({pen_frame(1, 3), brush_frame(2, 4, 7)});
  server.write_board(on_disk);
  ASSERT_TRUE(server.start({"--http", "0", "--rate", "0", "--draw-budget", "0", "--draw-total", "0"}));
  int port = server.web_port();
  // The board read at the start is served before anything is relayed.
  EXPECT_EQ(http_exchange(port, request("GET", "/status")).body, status_of("0-" + std::to_string(on_disk.size()), 2, ""));
  TestClient ann(server.port);
  ann.login("ann");
  const size_t strokes = 1100;
  for (size_t i = 0; i < strokes; i++) ASSERT_TRUE(ann.send(pen_frame(1, 255, 10, 20 + i % 600)));
  for (size_t i = 0; i < strokes; i++) ASSERT_EQ(ann.read_frame().type, 255) << i;
  Bytes board = server.board_file();
  ASSERT_GT(board.size(), size_t(1) << 20);
  std::string version = "0-" + std::to_string(board.size()), tag = "\"" + version + "\"";

  HttpAnswer page = http_exchange(port, request("GET", "/?watch"));
  EXPECT_EQ(http_field(page, "content-type"), "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("fetch('/status'"), std::string::npos);
  EXPECT_EQ(http_exchange(port, request("GET", "/status")).body, status_of(version, 2 + strokes, "\"ann\""));
  HttpAnswer easel = http_exchange(port, request("GET", "/board.easel"));
  EXPECT_EQ(http_field(easel, "content-type"), "application/octet-stream");
  EXPECT_EQ(http_field(easel, "etag"), tag);
  EXPECT_TRUE(Bytes(easel.body.begin(), easel.body.end()) == board);
  HttpAnswer png = picture(port, version);
  EXPECT_EQ(http_field(png, "content-type"), "image/png");
  EXPECT_TRUE(png.body == rendered(server));

  // Conditional requests (weak and listed tags too), one range or the whole, HEAD.
  const std::string board_text(board.begin(), board.end());
  const std::tuple<std::string, int, std::string> cases[] = {
      {request("GET", "/board.png", "If-None-Match: " + tag + "\r\n"), 304, ""},
      {request("GET", "/board.png", "If-None-Match: W/" + tag + "\r\n"), 304, ""},
      {request("GET", "/board.easel", "If-None-Match: \"1-2\", " + tag + "\r\n"), 304, ""},
      {request("GET", "/board.easel", "If-None-Match: *\r\n"), 304, ""},
      {request("GET", "/board.easel", "If-None-Match: \"0-1\"\r\n"), 200, board_text},
      {request("GET", "/board.easel", "Range: bytes=100-199\r\n"), 206, board_text.substr(100, 100)},
      {request("GET", "/board.easel", "Range: bytes=-7\r\n"), 206, board_text.substr(board.size() - 7)},
      {request("GET", "/board.easel", "Range: bytes=1048570-\r\n"), 206, board_text.substr(1048570)},
      {request("GET", "/board.easel", "Range: bytes=0-,0-\r\n"), 200, board_text},
      {request("GET", "/board.easel", "Range: bytes=0-1\r\nRange: bytes=2-3\r\n"), 200, board_text},
      {request("GET", "/board.easel", "Range: bytes=" + std::to_string(board.size()) + "-\r\n"), 416, ""},
      {request("GET", "/board.easel", "Range: bytes=0-1\r\nIf-Range: \"0-1\"\r\n"), 200, board_text},
      {request("HEAD", "/board.easel"), 200, ""},
      {request("GET", "/elsewhere"), 404, "There is nothing here.\n"}};
  for (const auto& [text, status, body] : cases) {
    HttpAnswer a = http_exchange(port, text);
    EXPECT_EQ(a.status, status) << text;
    EXPECT_TRUE(a.body == body) << text << a.body.size();
  }
  EXPECT_EQ(http_field(http_exchange(port, request("HEAD", "/board.easel")), "content-length"),
            std::to_string(board.size()));
  EXPECT_EQ(http_field(http_exchange(port, request("GET", "/board.easel", "Range: bytes=5-\r\n")), "content-range"),
            "bytes 5-" + std::to_string(board.size() - 1) + "/" + std::to_string(board.size()));

  // Nothing writes: every other method is 405 with the methods there are.
  for (const char* method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS", "TRACE", "BREW"}) {
    HttpAnswer a = http_exchange(port, request(method, "/board.easel", "Content-Length: 1\r\n") + "x");
    EXPECT_EQ(a.status, 405) << method;
    EXPECT_EQ(http_field(a, "allow"), "GET, HEAD") << method;
  }
  EXPECT_EQ(server.board_file(), board);

  ASSERT_TRUE(ann.send(frame_bytes(9, {1})));  // a vote to restart, alone: it passes
  EXPECT_EQ(ann.read_until(9).size(), 1u);     // after its own announcement
  // A logged-in user's invalid frame counts as a protocol error, once it is gone.
  {
    TestClient bad(server.port);
    bad.login("bad");
    bad.send(frame_bytes(13, {1}));
    EXPECT_TRUE(bad.closed_within());
  }
  HttpAnswer metrics;
  for (int i = 0; i < 200 && metrics.body.find("{reason=\"protocol\"} 1\n") == std::string::npos; i++) {
    if (i) usleep(50000);
    metrics = http_exchange(port, request("GET", "/metrics"));
  }
  EXPECT_EQ(http_field(metrics, "content-type"), "text/plain; version=0.0.4");
  size_t received = login_frame("ann").size() + board.size() - on_disk.size() + 4 + login_frame("bad").size() + 4;
  for (const std::string& line : std::vector<std::string>{
           "easel_disconnects_total{reason=\"protocol\"} 1\n", "easel_disconnects_total{reason=\"kicked\"} 0\n",
           "\neasel_users 1\n", "\neasel_connections 1\n", "\neasel_restarts_total 1\n",
           "\neasel_commands_relayed_total " + std::to_string(strokes) + "\n",
           "\neasel_commands_acknowledged_total " + std::to_string(strokes) + "\n",
           "\neasel_board_bytes 0\n",
           "easel_ack_latency_seconds_bucket{le=\"+Inf\"} " + std::to_string(strokes) + "\n",
           "\neasel_received_bytes_total " + std::to_string(received) + "\n"})
    EXPECT_NE(metrics.body.find(line), std::string::npos) << line << metrics.body;
  EXPECT_TRUE(picture(port, "1-0").body == rendered(server));
  EXPECT_EQ(http_exchange(port, request("GET", "/status")).body, status_of("1-0", 0, "\"ann\""));
  EXPECT_EQ(server.stop(), 0);  // the web side's threads end with the server
}

// Each acknowledgement lands in the first bucket whose bound it does not pass;
// the buckets are cumulative and the sum weighs each latency by its count.
TEST(Metrics, AckLatencyHistogramBucketsBoundsInclusiveAndSumsEveryAcknowledgement) {
  ServerMetrics m;
  metrics_latency(&m, 1, 0.0005);  // on a bound: that bucket
  metrics_latency(&m, 3, 0.002);
  metrics_latency(&m, 2, 10);      // above every bound
  std::string text = metrics_text(&m);
  for (const char* line : {"{le=\"0.0005\"} 1\n", "{le=\"0.001\"} 1\n", "{le=\"0.0025\"} 4\n",
                           "{le=\"2.5\"} 4\n", "{le=\"+Inf\"} 6\n",
                           "\neasel_ack_latency_seconds_sum 20.006500\neasel_ack_latency_seconds_count 6\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

// Downloads from one address share its rate (the burst, then the rate);
// every answer forbids framing and sniffing and names no library; when every
// web place is taken, an idle connection of the address holding the most
// makes room for a newcomer.
TEST(WebSide, DownloadsAreRatedPerAddressAnswersAreHardenedAndIdleConnectionsMakeRoom) {
  TestServer server;
  const Bytes board = board_of_size(1500000);
  server.write_board(board);
  ASSERT_TRUE(server.start({"--http", "0", "--download-rate", "0.25", "--http-connections", "8"}));
  int web = server.web_port();
  HttpAnswer a = http_exchange(web, request("GET", "/board.easel"), 30, "127.24.0.1");
  EXPECT_EQ(a.body.size(), board.size());
  EXPECT_GT(a.seconds, (double(board.size()) / 1048576 - 1) / 0.25 * 0.8);  // past its 1 MiB burst, 0.25 MiB/s
  for (const auto& [field, value] : std::vector<std::pair<std::string, std::string>>{
           {"server", "easel-server"}, {"x-frame-options", "DENY"}, {"x-content-type-options", "nosniff"},
           {"content-security-policy", "frame-ancestors 'none'"}})
    EXPECT_EQ(http_field(a, field), value) << field;
  std::vector<int> idle;
  for (int i = 0; i < 8; i++) idle.push_back(loopback_connect(loopback_address(24, 10 + (i < 5 ? 0 : i)), web));
  // Accepted in order: the newcomer finds the eight in their places.
  EXPECT_EQ(http_exchange(web, request("GET", "/status"), 5, "127.24.0.99").status, 200);
  char byte;
  EXPECT_EQ(recv(idle[0], &byte, 1, MSG_DONTWAIT), 0);  // the first of the address with five went
  EXPECT_EQ(recv(idle[7], &byte, 1, MSG_DONTWAIT), -1);  // the others wait on
  for (int fd : idle) close(fd);
}
