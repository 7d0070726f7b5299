// Browsers over the WebSocket of the --http port, against TCP users of the
// same server: the same bytes and acknowledgements both ways, a close code for
// every bad input while the others go on, the per-source limits, the Origin
// check, a slow browser meeting the output bound, and the page's files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "harness.h"
#include "server_log.h"
#include "net/wire_limits.h"
#include "web_client.h"

static const Bytes ACK = {255, 0, 0};

static std::vector<Bytes> bytes_of(const std::vector<Frame>& frames) {
  std::vector<Bytes> out;
  for (const Frame& f : frames) out.push_back(f.bytes());
  return out;
}

TEST(WebSocket, ABrowserPaintsBesideATcpUserWithTheSameBytesAndAcknowledgements) {
  TestServer server;
  const Bytes board = concat({pen_frame(1, 3), brush_frame(2, 4, 7)});
  server.write_board(board);
  std::ofstream(server.board + ".motd") << "Be nice";
  ASSERT_TRUE(server.start({"--http", "0", "--rate", "0", "--draw-budget", "0", "--draw-total", "0"}));
  int web = server.web_port();
  TestClient ann(server.port);
  ann.login("ann");
  WebClient bob(web, "", own_origin(web));
  ASSERT_EQ(bob.status, 101);
  // The login as over TCP: the reply with the roster, the board, the message of the day, the acknowledgement.
  ASSERT_TRUE(bob.send(login_frame("bob")));
  Bytes got;
  for (Frame f; (f = bob.read_frame()).type >= 0 && f.type != 255;) got = concat({got, f.bytes()});
  EXPECT_EQ(got, concat({frame_bytes(6, concat({{2}, text_bytes("bob"), {1}, text_bytes("ann"), {0}})), board,
                         chat_frame(0, "Be nice")}));
  EXPECT_EQ(ann.read_frame().bytes(), frame_bytes(7, concat({{2}, text_bytes("bob")})));
  EXPECT_TRUE(server.wait_for_log("#2 WebSocket connection from 127.21."));

  // Both ways, a stroke and a chat line in one message and in one TCP write:
  // the others get them with the author's id, the author one acknowledgement each.
  const Bytes from_bob = concat({brush_frame(9, 255, 11), chat_frame(9, "hi from the browser")});
  ASSERT_TRUE(bob.send(from_bob));
  EXPECT_EQ(bytes_of({bob.read_frame(), bob.read_frame()}), (std::vector<Bytes>{ACK, ACK}));
  EXPECT_EQ(bytes_of({ann.read_frame(), ann.read_frame()}),
            (std::vector<Bytes>{brush_frame(2, 255, 11), chat_frame(2, "hi from the browser")}));
  ASSERT_TRUE(ann.send(concat({pen_frame(1, 40, 300, 300), chat_frame(1, "hi from the desktop")})));
  EXPECT_EQ(bytes_of({ann.read_frame(), ann.read_frame()}), (std::vector<Bytes>{ACK, ACK}));
  EXPECT_EQ(bytes_of({bob.read_frame(), bob.read_frame()}),
            (std::vector<Bytes>{pen_frame(1, 40, 300, 300), chat_frame(1, "hi from the desktop")}));
  EXPECT_EQ(server.board_file(), concat({board, brush_frame(2, 255, 11), pen_frame(1, 40, 300, 300)}));

  // A board of over a megabyte reaches a browser joining later in batches of
  // whole frames, as a TCP user gets it.
  ASSERT_TRUE(ann.send(concat(std::vector<Bytes>(1100, pen_frame(1, 255)))));
  for (int i = 0; i < 1100; i++) ASSERT_EQ(ann.read_frame().type, 255);
  std::vector<Bytes> seen = seen_by_new_user(server.port);
  WebClient carol(web);
  std::vector<Frame> carol_seen = carol.login("carol");
  ASSERT_FALSE(carol_seen.empty());
  EXPECT_EQ(bytes_of(std::vector<Frame>(carol_seen.begin() + 1, carol_seen.end())), seen);
  EXPECT_LT(carol.messages, 100);
  EXPECT_TRUE(bob.whole_frames && carol.whole_frames);

  // The server stops: the browsers hear that it goes away.
  EXPECT_EQ(server.stop(), 0);
  EXPECT_EQ(bob.close_code(), 1001);
  EXPECT_EQ(carol.close_code(), 1001);
}

// Each bad input closes that browser's connection with its code; nothing of
// the bad message is relayed, what came before it is, and a TCP painter goes on.
TEST(WebSocket, EveryBadInputGetsItsCloseCodeAndNothingElseChanges) {
  TestServer server;
  ASSERT_TRUE(server.start({"--http", "0"}));
  int web = server.web_port();
  TestClient painter(server.port);
  painter.login("painter");
  const Bytes stroke = pen_frame(2, 30), largest = brush_frame(2, 255, 3);
  struct Case {
    const char* what;
    bool log_in;
    Bytes bytes;
    bool binary;
    int code;
  } cases[] = {
      {"a text message", true, text_bytes("{\"chat\": \"hello\"}"), false, 1003},
      {"a text message that is not UTF-8 (the library's check)", true, stroke, false, 1007},
      {"a message over the bound", true, Bytes(MAX_SOCKET_MESSAGE + 1, 0), true, 1009},
      {"the largest message, a frame cut at its end", true,
       concat({concat(std::vector<Bytes>(7, largest)), Bytes(largest.begin(), largest.end() - 1)}), true, 1007},
      {"half a frame", true, Bytes(stroke.begin(), stroke.begin() + 9), true, 1007},
      {"a header announcing more than a frame may hold", true, {0, 0x09, 0x04, 1, 2, 3}, true, 1007},
      {"an empty message", true, {}, true, 1007},
      {"an unknown frame type", true, frame_bytes(13, {1}), true, 1008},
      {"a stroke before the login", false, stroke, true, 1008},
  };
  Bytes board;  // the whole commands taken, in order
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WebClient bad(web);
    ASSERT_EQ(bad.status, 101);
    if (c.log_in) {
      bad.login("bad");
      EXPECT_EQ(painter.read_frame().type, 7);
      ASSERT_TRUE(bad.send(pen_frame(2, 5, 600, 400)));
      EXPECT_EQ(bad.read_frame().bytes(), ACK);
      EXPECT_EQ(painter.read_frame().bytes(), pen_frame(2, 5, 600, 400));
      board = concat({board, pen_frame(2, 5, 600, 400)});
    }
    ASSERT_TRUE(bad.send(c.bytes, c.binary));
    EXPECT_EQ(bad.close_code(), c.code);
    if (c.log_in) {
      EXPECT_EQ(painter.read_frame().bytes(), frame_bytes(8, {2}));
    }
    ASSERT_TRUE(painter.send(pen_frame(1, 8)));
    EXPECT_EQ(painter.read_frame().bytes(), ACK);
    board = concat({board, pen_frame(1, 8)});
  }
  // A close in the middle of a message: its first part is dropped, the user leaves.
  WebClient closer(web);
  closer.login("closer");
  EXPECT_EQ(painter.read_frame().type, 7);
  ASSERT_TRUE(closer.send_part_and_close(Bytes(stroke.begin(), stroke.begin() + 20)));
  EXPECT_EQ(painter.read_frame().bytes(), frame_bytes(8, {2}));
  EXPECT_TRUE(server.wait_for_log("\"closer\" left: closed the connection\n"));
  ASSERT_TRUE(painter.send(pen_frame(1, 8)));
  EXPECT_EQ(painter.read_frame().bytes(), ACK);
  EXPECT_EQ(server.board_file(), concat({board, pen_frame(1, 8)}));
}

// One address's browsers share its seats and its connections waiting to log
// in with its TCP users, and the web side's 16 connections per address.
TEST(WebSocket, OneAddressesBrowsersAreHeldToItsSeatsWaitingConnectionsAndWebConnections) {
  TestServer server;
  ASSERT_TRUE(server.start({"--http", "0", "--login-rate", "0", "--seats-per-source", "14"}));
  int web = server.web_port();
  const std::string home = "127.22.0.1", school = "127.22.0.2";
  std::vector<std::unique_ptr<WebClient>> at_home;
  TestClient desktop(server.port, home);
  desktop.login("desktop");
  for (int i = 0; i < 13; i++) {
    at_home.emplace_back(new WebClient(web, home));
    int id = 0;
    at_home.back()->login("b" + std::to_string(i), &id);
    ASSERT_EQ(id, i + 2);
  }
  // Web connections of one address: 13 held, 3 more taken, the 17th closed before its handshake.
  std::vector<std::unique_ptr<WebClient>> more;
  for (int i = 0; i < 3; i++) more.emplace_back(new WebClient(web, home));
  for (auto& c : more) EXPECT_EQ(c->status, 101);
  EXPECT_EQ(WebClient(web, home).status, 0);
  // The 15th user of the address gets the refusal the desktop client shows, then 1013.
  more[0]->send(login_frame("one more"));
  EXPECT_EQ(more[0]->read_frame().bytes(),
            chat_frame(0, "Sorry, 14 users from your address are on the board already. Try again later."));
  EXPECT_EQ(more[0]->close_code(), 1013);
  // Four connections of an address wait to log in; the fifth is refused at once with 1013.
  std::vector<std::unique_ptr<WebClient>> waiting;
  for (int i = 0; i < 4; i++) waiting.emplace_back(new WebClient(web, school));
  const std::string arrived = "WebSocket connection from " + school;
  for (double end = now_seconds() + 10; now_seconds() < end;) {
    std::string log = server.log();
    size_t count = 0;
    for (size_t at = log.find(arrived); at != std::string::npos; at = log.find(arrived, at + 1)) count++;
    if (count == 4) break;
    usleep(10000);
  }
  WebClient fifth(web, school);
  EXPECT_EQ(fifth.status, 101);
  EXPECT_EQ(fifth.close_code(), 1013);
  EXPECT_EQ(fifth.messages, 0);  // and nothing else
  EXPECT_TRUE(server.wait_for_log("refused: 4 connections from " + school + " wait to log in"));
}

// The server's own names (localhost, its address, --server-name) and
// --web-origin, default ports normalised; never whatever Host says (DNS
// rebinding). The handshake's answer names no library.
TEST(WebSocket, OnlyTheServersOwnNamesAndAllowedOriginsMayOpenItWhateverTheHost) {
  TestServer server;
  ASSERT_TRUE(server.start({"--http", "0", "--web-origin", "https://paint.example.org:443", "--server-name",
                            "board.example.net"}));
  int web = server.web_port();
  const std::string port = std::to_string(web);
  const std::pair<std::string, int> cases[] = {
      {own_origin(web), 101}, {"", 101}, {"https://paint.example.org", 101}, {"HTTP://127.0.0.1:" + port, 101},
      {"http://localhost:" + port, 101}, {"https://board.example.net:8443", 101}, {"http://evil.example", 403},
      {"null", 403}, {"http://127.0.0.1", 403}, {"https://paint.example.org.evil.example", 403},
      {"https://paint.example.org:8443", 403}, {"http://localhost", 403}};
  for (const auto& [origin, status] : cases) EXPECT_EQ(WebClient(web, "", origin).status, status) << origin;
  auto upgrade = [&](const std::string& host, const std::string& origin) {
    return http_exchange(web, "GET /ws HTTP/1.1\r\nHost: " + host + "\r\n" + origin +
                                  "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n", 1);
  };
  EXPECT_EQ(upgrade("evil.example:" + port, "Origin: http://evil.example:" + port + "\r\n").status, 403);
  HttpAnswer open = upgrade("x", "");
  EXPECT_EQ(open.status, 101);
  EXPECT_EQ(http_field(open, "server"), "easel-server");
  // A plain request for the address is told to upgrade.
  EXPECT_EQ(http_exchange(web, "GET /ws HTTP/1.1\r\nHost: x\r\n\r\n").status, 426);
}

// Behind a trusted proxy each browser is the address the proxy forwards, held
// to that address's seats (the addresses of one IPv6 home line's /56 are one
// source); from anyone else the header is ignored; garbage is refused.
TEST(WebSocket, BehindATrustedProxyEachForwardedAddressIsASourceOfItsOwn) {
  TestServer server;
  const std::string proxy = "127.23.0.1";
  ASSERT_TRUE(server.start({"--http", "0", "--proxy", proxy, "--seats-per-source", "2", "--login-rate", "0"}));
  int web = server.web_port();
  std::vector<std::unique_ptr<WebClient>> users;
  auto through = [&](const std::string& client) {
    users.push_back(std::make_unique<WebClient>(web, proxy, "", 0, client));
    int id = 0;
    std::vector<Frame> got = users.back()->login("u", &id);
    return id > 0 ? std::string("in") : got.empty() ? "?" : std::string(got[0].payload.begin() + 1, got[0].payload.end());
  };
  for (const char* client : {"198.51.100.7", "198.51.100.7", "203.0.113.9", "2001:db8:1:200::1", "6.6.6.6, 2001:db8:1:2ff::2"})
    EXPECT_EQ(through(client), "in") << client;
  const std::string full = std::string("Sorry, 2 users from your address are on the board already. Try again later.") + '\0';
  EXPECT_EQ(through("198.51.100.7"), full);
  EXPECT_EQ(through("2001:db8:1:2aa::3"), full);
  EXPECT_TRUE(server.wait_for_log("refused: 2 users from 2001:db8:1:200::/56 are logged in"));
  EXPECT_TRUE(server.wait_for_log("WebSocket connection from 203.0.113.9:0"));
  users.push_back(std::make_unique<WebClient>(web, "127.23.0.2", "", 0, "198.51.100.7"));
  int id = 0;
  users.back()->login("forger", &id);
  EXPECT_GT(id, 0);
  EXPECT_EQ(WebClient(web, proxy, "", 0, "not-an-address").status, 400);
}

// A browser that reads nothing stops its web side reading the relay: the
// relay's output bound disconnects it as it does a TCP user, the painter goes on.
TEST(WebSocket, ABrowserThatReadsNothingMeetsTheRelaysOutputBound) {
  TestServer server;
  ASSERT_TRUE(server.start({"--http", "0", "--max-output", "65536", "--rate", "0", "--draw-budget", "0",
                            "--draw-total", "0"}));
  int web = server.web_port();
  TestClient painter(server.port);
  painter.login("painter");
  WebClient sleeper(web, "", "", 4096);
  sleeper.login("sleeper");
  EXPECT_EQ(painter.read_frame().type, 7);
  // Chat lines: as many bytes as strokes would be, without drawing them (slow under the sanitizers).
  const int lines = 10000;
  ASSERT_TRUE(painter.send(concat(std::vector<Bytes>(lines, chat_frame(1, std::string(500, 'z'))))));
  bool sleeper_left = false;
  for (int acknowledged = 0; acknowledged < lines;) {
    Frame f = painter.read_frame(30);
    ASSERT_GE(f.type, 0) << "after " << acknowledged << " acknowledgements";
    acknowledged += f.type == 255;
    sleeper_left |= f.bytes() == frame_bytes(8, {2});
  }
  EXPECT_TRUE(sleeper_left);
  EXPECT_TRUE(server.wait_for_log("\"sleeper\" left: disconnected: more than 65536 bytes of output not read"));
}

// The page's files from --web-root with their types and tags; nothing outside
// the root however the path is spelt; the read-only view's page (built in
// from web/watch.html) at /?watch and without an index.html.
TEST(WebFiles, ThePagesFilesAreServedAndNoPathLeavesTheRoot) {
  TestServer server;
  namespace fs = std::filesystem;
  const std::string root = server.dir + "/web";
  fs::create_directories(root + "/lib");
  auto write = [](const std::string& path, const std::string& text) { std::ofstream(path) << text; };
  write(root + "/index.html", "<p>paint</p>");
  write(root + "/client.js", "go();");
  write(root + "/tab\t.js", "go();");
  write(root + "/lib/engine.wasm", std::string("\0asm\1\0\0\0", 8));
  write(root + "/.hidden", "no");
  write(server.dir + "/secret.txt", "secret");
  fs::create_symlink("../secret.txt", root + "/link.txt");
  fs::create_directory_symlink("..", root + "/up");
  ASSERT_EQ(mkfifo((root + "/pipe.js").c_str(), 0600), 0);
  ASSERT_TRUE(server.start({"--http", "0", "--web-root", root}));
  int web = server.web_port();
  auto get = [&](const std::string& target, const std::string& fields = "") {
    return http_exchange(web, "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + fields + "\r\n");
  };
  const std::tuple<std::string, std::string, std::string> files[] = {
      {"/", "text/html; charset=utf-8", "<p>paint</p>"},
      {"/client.js", "text/javascript; charset=utf-8", "go();"},
      {"/tab%09.js", "text/javascript; charset=utf-8", "go();"},
      {"/lib/engine.wasm", "application/wasm", std::string("\0asm\1\0\0\0", 8)},
      {"/lib/%65ngine.wasm", "application/wasm", std::string("\0asm\1\0\0\0", 8)}};
  for (const auto& [target, type, body] : files) {
    HttpAnswer a = get(target);
    EXPECT_EQ(a.status, 200) << target;
    EXPECT_EQ(http_field(a, "content-type"), type) << target;
    EXPECT_EQ(a.body, body) << target;
    EXPECT_EQ(get(target, "If-None-Match: " + http_field(a, "etag") + "\r\n").status, 304) << target;
  }
  std::ifstream page_file(EASEL_WATCH_PAGE_PATH);
  const std::string watch_page((std::istreambuf_iterator<char>(page_file)), std::istreambuf_iterator<char>());
  ASSERT_NE(watch_page.find("fetch('/status'"), std::string::npos);
  for (const char* target : {"/?watch", "/?a=1&watch=", "/?%77atch&b"}) EXPECT_EQ(get(target).body, watch_page) << target;
  EXPECT_EQ(get("/?watched&x=watch").body, "<p>paint</p>");
  for (const char* target : {"/../secret.txt", "/%2e%2e/secret.txt", "/lib/..%2f..%2fsecret.txt", "/lib%2F..%2F..%2Fsecret.txt",
                             "/lib/../../secret.txt", "/link.txt", "/up/secret.txt", "/.hidden", "//secret.txt", "/lib/",
                             "/lib", "/lib/%00", "/%5c..%5csecret.txt", "/pipe.js", "/missing.js", "/lib/engine.wasm%"})
    EXPECT_EQ(get(target).status, 404) << target;
  server.stop();
  TestServer plain;
  fs::create_directories(plain.dir + "/empty");
  ASSERT_TRUE(plain.start({"--http", "0", "--web-root", plain.dir + "/empty"}));
  EXPECT_EQ(http_exchange(plain.web_port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n").body, watch_page);
  EXPECT_TRUE(plain.wait_for_log("which has no index.html: / shows the read-only view"));
}
