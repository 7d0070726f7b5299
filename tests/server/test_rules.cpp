// The server's acceptance rules and options in process, and its command line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "harness.h"
#include "net/command.h"
#include "net/draw_cost.h"
#include "net/message.h"
#include "options.h"
#include "rules.h"
#include "sources.h"

static int valid(const Bytes& frame) {
  return frame[0] == 5 ? validate_chat(frame.data() + 3, frame.size() - 3)
                       : validate_drawing(frame[0], frame.data() + 3, frame.size() - 3);
}

TEST(Rules, DrawingsNeed1To255WholePointsAChatLineAtMost511CharactersAndOneEnd) {
  const std::pair<Bytes, bool> cases[] = {
      {pen_frame(1, 1), true}, {brush_frame(1, 255, 7), true},
      {frame_bytes(13, Bytes(8)), false}, {frame_bytes(7, Bytes(8)), false},
      // The picture centred on an 8192 x 8192 screen starts at (3640, 3754).
      {pen_frame(1, 1, -3640, -3754), true}, {pen_frame(1, 1, 4551, 4437), true},
      {pen_frame(1, 1, -3641, 0), false}, {pen_frame(1, 1, 4552, 0), false},
      {pen_frame(1, 1, 0, -3755), false}, {pen_frame(1, 1, 0, 4438), false},
      {pen_frame(1, 200, 4400, 0), false},  // only the last point is out
      {chat_frame(1, ""), true}, {chat_frame(1, std::string(511, 'x')), true},
      {chat_frame(1, std::string(512, 'x')), false}, {frame_bytes(5, {1}), false},
      {frame_bytes(5, {1, 'a', 'b'}), false}, {frame_bytes(5, {1, 'a', 0, 'b', 0}), false}};
  for (const auto& [frame, ok] : cases)
    EXPECT_EQ(valid(frame), ok) << "type " << int(frame[0]) << ", " << frame.size() << " bytes";
  EXPECT_EQ(brush_frame(1, 255, 7).size(), MAX_FRAME);  // the largest legal message
  // Whatever a tool's fixed part, only whole points after it are taken.
  for (int type = 0; type < 256; type++) {
    int fixed = drawing_fixed_size(type);
    if (fixed < 0) continue;
    for (int extra : {0, 3, 4, 5, 8, 1020, 1024})
      EXPECT_EQ(validate_drawing(type, Bytes(size_t(fixed + extra)).data(), size_t(fixed + extra)),
                extra % 4 == 0 && extra >= 4 && extra <= 1020)
          << type << " + " << extra;
  }
}

// The fastest painting our client passes on (255 points, one at least every 100
// pixels of path, rows over the whole picture, every tool at its extreme sizes,
// 10000 pixels a second) stays within the default budget; its estimates are
// pinned.
TEST(DrawBudget, PinnedCostsAndNeverHoldsBackAHand) {
  int16_t xs[255], ys[255];
  double path = 0;
  for (int k = 0; k < 255; k++) {
    int row = k / 10, col = row % 2 ? 9 - k % 10 : k % 10;
    xs[k] = int16_t(5 + col * 100);
    ys[k] = int16_t(5 + row * 26);
    if (k > 0) path += std::hypot(xs[k] - xs[k - 1], ys[k] - ys[k - 1]);
  }
  // The model's estimates for these strokes, in ns: a change is a recalibration.
  const double PINNED[18] = {3881975, 7912625, 8033493.25, 112709525, 8757875,   2766375,
                             3881975, 25717377.298, 22755631.245, 52841092.686, 53416006.078, 2727505.036,
                             3881975, 28065875, 39723220,  38917625,  139737275, 2645375};
  int pinned = 0;
  ServerOptions o;
  for (float size : {0.0f, 6.5f, 400.0f}) {
    Message m[6];
    encode_pen(&m[0], 1, 1, 2, 3, xs, ys, 255);
    encode_pencil(&m[1], 1, 1, 2, 3, size, xs, ys, 255);
    encode_brush(&m[2], 1, 1, 2, 3, size, 400, xs, ys, 255);
    encode_chalk(&m[3], 1, 1, 2, 3, size, xs, ys, 255);
    encode_smudge(&m[4], 1, size, 400, xs, ys, 255);
    encode_stamp(&m[5], 1, 1, 2, 3, size, 0, xs, ys, 255);
    for (Message& one : m) {
      double cost = draw_cost(int(one.type), one.begin, message_length(&one));
      EXPECT_LT(cost * 10000 / path, o.draw_rate) << one.type << " at " << size;
      EXPECT_LT(cost, o.draw_burst) << one.type << " at " << size;
      EXPECT_NEAR(cost, PINNED[pinned] * 1e-3, 1e-6) << pinned;
      pinned++;
      message_free(&one);
    }
  }
}

TEST(Options, EveryOptionIsReadHelpNamesThemAndErrorsGiveTheirStatusAndMessage) {
  char password_file[] = "/tmp/easel-password-XXXXXX";
  int fd = mkstemp(password_file);
  ASSERT_EQ(write(fd, "open sesame\r\nnot this\n", 23), 23);
  close(fd);
  const char* argv[] = {"s", "--port", "3030", "--bind", "127.0.0.1", "--board", "b.easel",
                        "--motd-password-file", password_file, "--max-output", "65536", "--rate", "5",
                        "--burst", "9", "--max-connections", "300", "--login-timeout", "4", "--sync",
                        "--draw-budget", "30", "--draw-burst", "70", "--draw-total", "300",
                        "--login-rate", "0.5", "--login-burst", "2", "--seats-per-source", "3",
                        "--unlogged-per-source", "6", "--restart-interval", "90",
                        "--http-connections", "40", "--trust", "10.0.0.0/8", "--trust", "2001:db8::1",
                        "--web-root", "/srv/page", "--web-origin", "https://paint.example.org/", "--web-origin", "*"};
  ServerOptions o, defaults;
  int parse_status = -1;
  ASSERT_TRUE(options_parse(&o, int(sizeof argv / sizeof *argv), const_cast<char**>(argv), &parse_status));
  unlink(password_file);
  EXPECT_EQ(std::make_tuple(o.port, o.bind_address, o.board_path, o.motd_password),
            std::make_tuple(3030, std::string("127.0.0.1"), std::string("b.easel"), std::string("open sesame")));
  EXPECT_EQ(std::make_tuple(o.max_pending_output, o.rate, o.burst, o.max_connections, o.login_timeout, o.sync),
            std::make_tuple(size_t(65536), 5, 9, 300, 4, true));
  EXPECT_EQ(std::make_tuple(o.draw_rate, o.draw_burst, o.draw_total, o.login_rate, o.login_burst),
            std::make_tuple(30000, 70000, 300000, 0.5, 2));
  EXPECT_EQ(std::make_tuple(o.seats_per_source, o.unlogged_per_source, o.restart_interval, o.http_connections),
            std::make_tuple(3, 6, 90, 40));
  EXPECT_EQ(o.web_root, "/srv/page");
  EXPECT_EQ(o.web_origins, (std::vector<std::string>{"https://paint.example.org", "*"}));
  ASSERT_EQ(o.trusted.size(), 2u);
  EXPECT_EQ(std::make_tuple(o.trusted[0].prefix, o.trusted[0].bytes[0], o.trusted[1].prefix, o.trusted[1].bytes[15]),
            std::make_tuple(8, 10, 128, 1));
  EXPECT_EQ(std::make_tuple(defaults.port, defaults.board_path, defaults.bind_address),
            std::make_tuple(2020, std::string("board.easel"), std::string()));
  // The environment gives the password too.
  setenv("EASEL_MOTD_PASSWORD", "from the environment", 1);
  ServerOptions e;
  const char* none[] = {"s"};
  ASSERT_TRUE(options_parse(&e, 1, const_cast<char**>(none), &parse_status));
  unsetenv("EASEL_MOTD_PASSWORD");
  EXPECT_EQ(e.motd_password, "from the environment");
  TestServer first;
  ASSERT_TRUE(first.start());
  auto run = [&](const std::string& arguments, std::string* output) {
    int status = system((EASEL_SERVER_PATH " " + arguments + " >" + first.dir + "/out 2>&1").c_str());
    Bytes text = first.file("out");
    output->assign(text.begin(), text.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  std::string out;
  EXPECT_EQ(run("--help", &out), 0);
  EXPECT_NE(out.find("--draw-budget"), std::string::npos);
  const std::tuple<std::string, int, const char*> cases[] = {
      {"--colour blue", 2, "unknown option '--colour'"},
      {"--port", 2, "option --port needs a valid value"},
      {"--port 70000", 2, "option --port needs a valid value"},
      {"--port 12x", 2, "option --port needs a valid value"},
      {"--rate -1", 2, "option --rate needs a valid value"},
      {"--trust 10.0.0.0/33", 2, "option --trust needs a valid value"},
      {"--trust example.org", 2, "option --trust needs a valid value"},
      {"--motd-password secret", 2, "give the password in EASEL_MOTD_PASSWORD or in a file"},
      {"--motd-password-file /nonexistent/file", 2, "cannot read the password file /nonexistent/file"},
      {"--bind 127.0.0.1 --port " + std::to_string(first.port) + " --board " + first.dir + "/b",
       1, "error: cannot listen on 127.0.0.1 port"},
      {"--port 0 --board /nonexistent-dir/board.easel", 1, "error: cannot open the board file"}};
  for (const auto& [arguments, status, text] : cases) {
    EXPECT_EQ(run(arguments, &out), status) << arguments;
    EXPECT_NE(out.find(text), std::string::npos) << out;
  }
}

// A host is one IPv4 address or one IPv6 prefix, a home line's /56 unless
// configured (an IPv4 address mapped into IPv6 is that IPv4 host); trusted
// ranges match by their prefix.
TEST(Sources, AnIpv6HomePrefixIsOneSourceMappedIpv4IsItsAddressAndTrustMatchesByPrefix) {
  auto address = [](const char* text) {
    sockaddr_storage a = {};
    if (inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in*>(&a)->sin_addr) == 1) {
      a.ss_family = AF_INET;
    } else {
      a.ss_family = AF_INET6;
      inet_pton(AF_INET6, text, &reinterpret_cast<sockaddr_in6*>(&a)->sin6_addr);
    }
    return a;
  };
  ServerOptions o;
  EXPECT_EQ(source_key(&o, address("192.0.2.7")), "192.0.2.7");
  EXPECT_EQ(source_key(&o, address("::ffff:192.0.2.7")), "192.0.2.7");
  for (const char* one_line : {"2001:db8:1:200::1", "2001:db8:1:2ff:bbbb:1:2:3", "2001:db8:1:234::9"})
    EXPECT_EQ(source_key(&o, address(one_line)), "2001:db8:1:200::/56") << one_line;
  EXPECT_EQ(source_key(&o, address("2001:db8:1:300::1")), "2001:db8:1:300::/56");
  o.ipv6_prefix = 64;
  EXPECT_EQ(source_key(&o, address("2001:db8:1:2:aaaa::1")), "2001:db8:1:2::/64");
  EXPECT_EQ(source_key(&o, address("2001:db8:1:3::1")), "2001:db8:1:3::/64");
  for (const char* range : {"10.0.0.0/8", "192.0.2.128/25", "2001:db8:1::/48"}) {
    AddressRange r;
    ASSERT_TRUE(address_range_parse(range, &r)) << range;
    o.trusted.push_back(r);
  }
  AddressRange bad;
  for (const char* range : {"10.0.0.0/", "10.0.0.0/8x", "10.0.0.0/-1", "::1/129", "10.0.0.0/33"})
    EXPECT_FALSE(address_range_parse(range, &bad)) << range;
  for (const auto& [text, trusted] : std::vector<std::pair<const char*, bool>>{
           {"10.200.3.4", true}, {"11.0.0.1", false}, {"::ffff:10.1.1.1", true},
           {"192.0.2.129", true}, {"192.0.2.127", false}, {"2001:db8:1:ffff::9", true},
           {"2001:db8:2::9", false}})
    EXPECT_EQ(address_trusted(&o, address(text)), trusted) << text;
}

// Behind a trusted proxy the client is the right-most forwarded address that
// is not a proxy; forged entries left of it change nothing, garbage or an
// endless chain is refused, and without the header the proxy is its own client.
TEST(Sources, ATrustedProxysClientIsTheRightMostAddressNotAProxyAndGarbageIsRefused) {
  auto text = [](const sockaddr_storage& a) {
    ServerOptions plain;
    plain.ipv6_prefix = 128;
    return source_key(&plain, a);
  };
  ServerOptions o;
  for (const char* range : {"127.0.0.1", "10.0.0.0/8"}) {
    AddressRange r;
    ASSERT_TRUE(address_range_parse(range, &r));
    o.proxies.push_back(r);
  }
  sockaddr_storage peer = {}, client;
  peer.ss_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr);
  for (const auto& [header, want] : std::vector<std::pair<std::string, std::string>>{
           {"", "127.0.0.1"}, {"192.0.2.7", "192.0.2.7"}, {"6.6.6.6, 192.0.2.7", "192.0.2.7"},
           {"192.0.2.7, 10.1.2.3", "192.0.2.7"}, {" 192.0.2.7:4711 ,10.0.0.1", "192.0.2.7"},
           {"[2001:db8::1]:80", "2001:db8::1/128"}, {"2001:db8::1", "2001:db8::1/128"},
           {"10.0.0.2, 10.0.0.1", "10.0.0.2"}}) {
    ASSERT_TRUE(forwarded_client(&o, peer, header, &client)) << header;
    EXPECT_EQ(text(client), want) << header;
  }
  std::string endless;
  for (int i = 0; i < 40; i++) endless += "10.0.0." + std::to_string(i) + ",";
  for (const std::string& bad : {std::string("unknown"), std::string("192.0.2.7, evil"), std::string("1.2.3.4,"),
                                 std::string("[::1"), endless + "192.0.2.7"})
    EXPECT_FALSE(forwarded_client(&o, peer, bad, &client)) << bad;
  o.proxy_header = "forwarded";
  ASSERT_TRUE(forwarded_client(&o, peer, "for=6.6.6.6, for=\"[2001:db8::2]:1\";proto=https;by=10.0.0.1", &client));
  EXPECT_EQ(text(client), "2001:db8::2/128");
  EXPECT_FALSE(forwarded_client(&o, peer, "for=_hidden", &client));
}
