// The web view over real sockets: every endpoint, the picture against
// easel-render's, a restart, a clean stop, and nothing that writes.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>

#include "harness.h"

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

// A failed request reads as status -1 and an empty body, never as a crash.
static int code(const httplib::Result& r) { return r ? r->status : -1; }
static std::string body(const httplib::Result& r) { return r ? r->body : std::string(); }

// The board is kept in 1 MiB blocks: a copy that crosses one must come out whole.
TEST(WebView, ServesTheBoardReadOnlyAndFollowsARestart) {
  TestServer server;
  const Bytes on_disk = concat({pen_frame(1, 3), brush_frame(2, 4, 7)});
  server.write_board(on_disk);
  ASSERT_TRUE(server.start({"--http", "0", "--rate", "0", "--draw-budget", "0"}));
  const std::string mark = "web view on http://127.0.0.1:";
  ASSERT_TRUE(server.wait_for_log(mark));
  std::string log = server.log();
  int port = atoi(log.c_str() + log.find(mark) + mark.size());
  httplib::Client web("127.0.0.1", port);
  web.set_read_timeout(60, 0);  // the painter runs at the lowest priority
  // The board read at the start is served before anything is relayed.
  EXPECT_EQ(body(web.Get("/status")), status_of("0-" + std::to_string(on_disk.size()), 2, ""));
  TestClient ann(server.port);
  ann.login("ann");
  const size_t strokes = 1100;
  for (size_t i = 0; i < strokes; i++) ASSERT_TRUE(ann.send(pen_frame(1, 255, 10, 20 + i % 600)));
  for (size_t i = 0; i < strokes; i++) ASSERT_EQ(ann.read_frame().type, 255) << i;
  Bytes board = server.board_file();
  ASSERT_GT(board.size(), size_t(1) << 20);
  std::string version = "0-" + std::to_string(board.size());

  auto page = web.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page->body.find("fetch('/status'"), std::string::npos);
  EXPECT_EQ(body(web.Get("/status")), status_of(version, 2 + strokes, "\"ann\""));
  auto easel = web.Get("/board.easel");
  ASSERT_TRUE(easel);
  EXPECT_EQ(easel->get_header_value("Content-Type"), "application/octet-stream");
  EXPECT_TRUE(Bytes(easel->body.begin(), easel->body.end()) == board);
  auto png = web.Get("/board.png");
  ASSERT_TRUE(png);
  EXPECT_EQ(png->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(png->get_header_value("ETag"), "\"" + version + "\"");
  EXPECT_TRUE(png->body == rendered(server));
  EXPECT_EQ(code(web.Get("/board.png", {{"If-None-Match", "\"" + version + "\""}})), 304);

  EXPECT_EQ(code(web.Post("/board.easel", "x", "text/plain")), 405);
  EXPECT_EQ(code(web.Delete("/board.easel")), 405);
  EXPECT_EQ(server.board_file(), board);

  // More requests than connections may be open at once: each frees its place.
  for (int i = 0; i < 40; i++) ASSERT_EQ(code(web.Get("/status")), 200) << i;
  ASSERT_TRUE(ann.send(frame_bytes(9, {1})));  // a vote to restart, alone: it passes
  EXPECT_EQ(ann.read_until(9).size(), 1u);     // after its own announcement
  auto metrics = web.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4");
  size_t received = login_frame("ann").size() + board.size() - on_disk.size() + 4;
  for (const std::string& line : std::vector<std::string>{
           "\neasel_users 1\n", "\neasel_connections 1\n", "\neasel_restarts_total 1\n",
           "\neasel_commands_relayed_total " + std::to_string(strokes) + "\n",
           "\neasel_commands_acknowledged_total " + std::to_string(strokes) + "\n",
           "\neasel_board_bytes 0\n",
           "easel_ack_latency_seconds_bucket{le=\"+Inf\"} " + std::to_string(strokes) + "\n",
           "\neasel_received_bytes_total " + std::to_string(received) + "\n"})
    EXPECT_NE(metrics->body.find(line), std::string::npos) << line << metrics->body;
  png = web.Get("/board.png");
  ASSERT_TRUE(png);
  EXPECT_EQ(png->get_header_value("ETag"), "\"1-0\"");
  EXPECT_TRUE(png->body == rendered(server));
  EXPECT_EQ(body(web.Get("/status")), status_of("1-0", 0, "\"ann\""));
  EXPECT_EQ(server.stop(), 0);  // the web view's threads end with the server
}
