#include "options.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "base/command_line.h"

int address_range_parse(const char* text, AddressRange* out) {
  std::string address = text;
  int prefix = -1;
  size_t slash = address.find('/');
  if (slash != std::string::npos) {
    const char* bits = text + slash + 1;
    char* end = nullptr;
    long value = strtol(bits, &end, 10);
    if (!*bits || *end || value < 0 || value > 128) return 0;
    prefix = int(value);
    address.resize(slash);
  }
  AddressRange r;
  if (inet_pton(AF_INET, address.c_str(), r.bytes) == 1) {
    r.family = AF_INET;
    r.prefix = prefix < 0 ? 32 : prefix;
    if (r.prefix > 32) return 0;
  } else if (inet_pton(AF_INET6, address.c_str(), r.bytes) == 1) {
    r.family = AF_INET6;
    r.prefix = prefix < 0 ? 128 : prefix;
  } else {
    return 0;
  }
  *out = r;
  return 1;
}

namespace {

const char TRY[] = "\nTry 'easel-server --help'.";

CLI::ValidationError invalid_value(const std::string& option) {
  return CLI::ValidationError("option " + option + " needs a valid value" + TRY);
}

// The first line of the file, without its line end.
int read_password_file(const char* path, std::string* out) {
  std::ifstream in(path);
  if (!in) return 0;
  std::getline(in, *out);
  if (!out->empty() && out->back() == '\r') out->pop_back();
  return 1;
}

int parse_number(const char* text, double low, double high, double* out) {
  if (!text || !*text) return 0;
  char* end = nullptr;
  errno = 0;
  double value = strtod(text, &end);
  if (errno != 0 || *end != 0 || !std::isfinite(value) || value < low || value > high) return 0;
  *out = value;
  return 1;
}

// An option with a value that take turns into a setting; false refuses it.
void add_value(CLI::App* app, const std::string& name, const char* value_name, const char* description,
               std::function<bool(const std::string&)> take) {
  app->add_option_function<std::string>(
         name, [name, take](const std::string& value) { if (!take(value)) throw invalid_value(name); }, description)
      ->option_text(value_name)
      ->trigger_on_parse();
}

// An option whose value is a number from low to high (a whole one when asked
// for), as strtod reads it.
void add_number(CLI::App* app, const std::string& name, const char* value_name, double low, double high, bool whole,
                const char* description, std::function<void(double)> set) {
  add_value(app, name, value_name, description, [=](const std::string& value) {
    double number = 0;
    if (!parse_number(value.c_str(), low, high, &number) || (whole && number != std::floor(number))) return false;
    set(number);
    return true;
  });
}

void add_general(CLI::App* app, ServerOptions* o) {
  add_number(app, "--port", "N", 0, 65535, true, "TCP port to listen on (default 2020; 0 picks a free one)",
             [o](double n) { o->port = int(n); });
  add_value(app, "--bind", "ADDRESS", "address to listen on (default: every interface)",
            [o](const std::string& v) { return o->bind_address = v, true; });
  add_value(app, "--board", "FILE",
            "board file, the wire frames of every drawing command\n"
            "(default board.easel in the working directory); the\n"
            "message of the day is kept in FILE.motd",
            [o](const std::string& v) { return !v.empty() && (o->board_path = v, true); });
  add_number(app, "--checkpoint-every", "N", 0, 1e9, true,
             "make a checkpoint of the board, which newcomers take\n"
             "instead of its history, whenever it has grown by N\n"
             "commands; kept in FILE.checkpoint (default 500; 0: none)",
             [o](double n) { o->checkpoint_every = size_t(n); });
  add_number(app, "--resume-hours", "H", 0, 24 * 366, false,
             "keep a painter's session for H hours after its link\n"
             "ended, so that its client takes it up again by itself\n"
             "and nothing it drew is lost or doubled, also across a\n"
             "restart of the server; at most 1024 sessions, the\n"
             "oldest absent ones forgotten first; kept in FILE.resume\n"
             "(default 24)",
             [o](double n) { o->resume_hours = n; });
  app->add_option_function<std::string>(
         "--motd-password-file",
         [o](const std::string& path) {
           if (!read_password_file(path.c_str(), &o->motd_password))
             throw CLI::ValidationError("cannot read the password file " + path + ": " + strerror(errno));
         },
         "the password of /motd is the first line of FILE;\n"
         "or give it in the environment as EASEL_MOTD_PASSWORD\n"
         "(default: none, /motd is refused)")
      ->option_text("FILE")
      ->trigger_on_parse();
  // Every user of the machine can read a command line.
  app->add_option_function<std::string>("--motd-password", [](const std::string&) {
       throw CLI::ValidationError(
           "--motd-password is no longer taken, as every user of the machine can read a command line; give the"
           " password in EASEL_MOTD_PASSWORD or in a file (--motd-password-file)");
     })
      ->expected(0, 1)
      ->group("")
      ->trigger_on_parse();
  add_number(app, "--max-output", "BYTES", 4096, 1e12, false,
             "output kept for a user who does not read before the\nuser is disconnected (default 8388608)",
             [o](double n) { o->max_pending_output = size_t(n); });
  add_number(app, "--max-output-total", "BYTES", 65536, 1e13, false,
             "output kept for all users together; past it the user\n"
             "with the most unread output is disconnected first\n(default 67108864)",
             [o](double n) { o->max_output_total = size_t(n); });
}

void add_per_source(CLI::App* app, ServerOptions* o) {
  const char* group =
      "Limits per source (one IPv4 address or one IPv6 prefix, shared by all its "
      "connections and kept across reconnects)";
  app->option_defaults()->group(group);
  add_number(app, "--rate", "N", 0, 1e9, false,
             "frames per second before the server stops reading from\nthe source for a while (default 50; 0: no limit)",
             [o](double n) { o->rate = n; });
  add_number(app, "--burst", "N", 1, 1e9, false, "frames a source may send at once (default 100)",
             [o](double n) { o->burst = n; });
  add_number(app, "--draw-budget", "MS", 0, 1e9, false,
             "milliseconds of one core a second that a source's\n"
             "drawing commands may cost every client to draw, as the\n"
             "server estimates it (default 100; 0: no budget)",
             [o](double n) { o->draw_rate = n * 1000; });
  add_number(app, "--draw-burst", "MS", 0, 1e9, false, "drawing cost a source may save up (default 500)",
             [o](double n) { o->draw_burst = n * 1000; });
  add_number(app, "--login-rate", "N", 0, 1e9, false, "logins per second (default 1; 0: no limit)",
             [o](double n) { o->login_rate = n; });
  add_number(app, "--login-burst", "N", 1, 1e9, false, "logins at once (default 4)",
             [o](double n) { o->login_burst = n; });
  add_number(app, "--seats-per-source", "N", 1, 1e6, false, "users logged in at once (default 8)",
             [o](double n) { o->seats_per_source = int(n); });
  add_number(app, "--unlogged-per-source", "N", 1, 1e6, false, "connections waiting to log in (default 4)",
             [o](double n) { o->unlogged_per_source = int(n); });
  add_value(app, "--trust", "RANGE",
            "lifts these limits for an address or range, such as a\n"
            "school behind one address (10.0.0.0/8, 2001:db8::/48,\n"
            "192.0.2.7); each of its connections counts alone, but\n"
            "the range shares one drawing budget and one /motd\n"
            "back-off; may be given more than once",
            [o](const std::string& v) {
              AddressRange range;
              return address_range_parse(v.c_str(), &range) && (o->trusted.push_back(range), true);
            });
  add_number(app, "--ipv6-prefix", "BITS", 16, 128, true,
             "leading bits of an IPv6 address that make one source\n"
             "(default 56: a home line's whole prefix)",
             [o](double n) { o->ipv6_prefix = int(n); });
  add_number(app, "--download-rate", "MIB", 0.0625, 1e6, false,
             "MiB a second of web answers (/board.easel, the page's\n"
             "files) with 4 seconds' worth saved up (default 4)",
             [o](double n) { o->download_rate = n * 1048576, o->download_burst = 4 * n * 1048576; });
}

void add_whole_server(CLI::App* app, ServerOptions* o) {
  app->option_defaults()->group("Limits of the whole server");
  add_number(app, "--draw-total", "MS", 0, 1e9, false,
             "milliseconds of drawing a second that all commands\n"
             "relayed may cost every client together (default 1000;\n0: no cap)",
             [o](double n) { o->draw_total = n * 1000; });
  add_number(app, "--restart-interval", "SEC", 0, 1e6, false,
             "time from one restart of the board to the next at\nleast (default 30)",
             [o](double n) { o->restart_interval = int(n); });
  add_number(app, "--max-connections", "N", 1, 1e6, false, "open connections, logged in or not (default 1000)",
             [o](double n) { o->max_connections = int(n); });
  add_number(app, "--login-timeout", "SEC", 1, 1e6, false, "time a new connection has to log in (default 30)",
             [o](double n) { o->login_timeout = int(n); });
  app->add_flag_callback("--sync", [o] { o->sync = true; },
                         "flush the board to the disk (fdatasync) before every\n"
                         "acknowledgement, not only to the operating system");
  add_number(app, "--http", "PORT", 0, 65535, true,
             "serve the painting page and a read-only web view\n"
             "(/?watch) of the board on PORT (same address as\n"
             "--bind; 0 picks a free one; default: none)",
             [o](double n) { o->http_port = int(n); });
  add_number(app, "--http-connections", "N", 1, 1e6, false, "web connections open at once (default 512)",
             [o](double n) { o->http_connections = int(n); });
  add_value(app, "--web-root", "DIR",
            "the page's files (HTML, JavaScript, WebAssembly) served\n"
            "at / and below (default: ../share/easel-server/web or\n"
            "../web from the program's directory, the first with an\n"
            "index.html; without one, / shows the read-only view)",
            [o](const std::string& v) { return !v.empty() && (o->web_root = v, true); });
  // An origin has no path: "https://paint.example.org/" is that origin too.
  add_value(app, "--web-origin", "ORIGIN",
            "pages from ORIGIN (such as https://paint.example.org)\n"
            "may paint through the WebSocket besides the server's\n"
            "own; * allows any; may be given more than once",
            [o](std::string origin) {
              while (!origin.empty() && origin.back() == '/') origin.pop_back();
              return !origin.empty() && (o->web_origins.push_back(origin), true);
            });
  add_value(app, "--server-name", "NAME",
            "a host name of this server (such as paint.example.org):\n"
            "its pages on any port may paint through the WebSocket;\n"
            "localhost, the --bind address and the address a browser\n"
            "reached are names already; may be given more than once",
            [o](const std::string& v) {
              return !v.empty() && v.find_first_of("/: ") == std::string::npos && (o->server_names.push_back(v), true);
            });
  add_value(app, "--proxy", "RANGE",
            "a reverse proxy (such as 127.0.0.1 for nginx on this\n"
            "host): the client address it forwards, the right-most\n"
            "one of --proxy-header that is not a proxy itself, is the\n"
            "source of its web requests, held to every limit above;\n"
            "may be given more than once",
            [o](const std::string& v) {
              AddressRange range;
              return address_range_parse(v.c_str(), &range) && (o->proxies.push_back(range), true);
            });
  add_value(app, "--proxy-header", "NAME",
            "the header a --proxy adds the client's address to:\n"
            "X-Forwarded-For (default) or Forwarded",
            [o](std::string v) {
              for (char& c : v) c = char(tolower(c));
              return (v == "x-forwarded-for" || v == "forwarded") && (o->proxy_header = v, true);
            });
  add_help_flag(app, "Limits of the whole server", "show this help and exit");
}

void say_mistake(CommandLineMistake mistake, const std::string& text) {
  if (mistake == UNKNOWN_OPTION)
    fprintf(stderr, "easel-server: unknown option '%s'%s\n", text.c_str(), TRY);
  else if (mistake == MISSING_VALUE)
    fprintf(stderr, "easel-server: %s\n", invalid_value(text).what());
  else
    fprintf(stderr, "easel-server: %s\n", text.c_str());
}

}  // namespace

int options_parse(ServerOptions* options, int argc, char** argv, int* exit_status) {
  if (const char* password = getenv("EASEL_MOTD_PASSWORD")) options->motd_password = password;
  CLI::App app(
      "Usage: easel-server [OPTION]...\n"
      "Relays the drawing commands and chat lines of up to 128 users of one shared\n"
      "board and keeps the board in a file.\n",
      "easel-server");
  app.formatter(std::make_shared<HelpLayout>(24));
  add_general(&app, options);
  add_per_source(&app, options);
  add_whole_server(&app, options);
  return command_line_parse(&app, argc, argv, exit_status, say_mistake);
}
