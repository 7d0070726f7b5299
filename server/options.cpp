#include "options.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

const char* options_usage() {
  return "Usage: easel-server [OPTION]...\n"
         "Relays the drawing commands and chat lines of up to 128 users of one shared\n"
         "board and keeps the board in a file.\n"
         "\n"
         "  --port N              TCP port to listen on (default 2020; 0 picks a free one)\n"
         "  --bind ADDRESS        address to listen on (default: every interface)\n"
         "  --board FILE          board file, the wire frames of every drawing command\n"
         "                        (default board.easel in the working directory); the\n"
         "                        message of the day is kept in FILE.motd\n"
         "  --motd-password-file FILE  the password of /motd is the first line of FILE;\n"
         "                        or give it in the environment as EASEL_MOTD_PASSWORD\n"
         "                        (default: none, /motd is refused)\n"
         "  --max-output BYTES    output kept for a user who does not read before the\n"
         "                        user is disconnected (default 8388608)\n"
         "\n"
         "Limits per source (one IPv4 address or one IPv6 /64, shared by all its\n"
         "connections and kept across reconnects):\n"
         "  --rate N              frames per second before the server stops reading from\n"
         "                        the source for a while (default 50; 0: no limit)\n"
         "  --burst N             frames a source may send at once (default 100)\n"
         "  --draw-budget MS      milliseconds of one core a second that a source's\n"
         "                        drawing commands may cost every client to draw, as the\n"
         "                        server estimates it (default 100; 0: no budget)\n"
         "  --draw-burst MS       drawing cost a source may save up (default 500)\n"
         "  --login-rate N        logins per second (default 1; 0: no limit)\n"
         "  --login-burst N       logins at once (default 4)\n"
         "  --seats-per-source N  users logged in at once (default 8)\n"
         "  --unlogged-per-source N  connections waiting to log in (default 4)\n"
         "  --trust RANGE         lifts these limits for an address or range, such as a\n"
         "                        school behind one address (10.0.0.0/8, 2001:db8::/48,\n"
         "                        192.0.2.7); each of its connections counts alone;\n"
         "                        may be given more than once\n"
         "\n"
         "Limits of the whole server:\n"
         "  --draw-total MS       milliseconds of drawing a second that all commands\n"
         "                        relayed may cost every client together (default 1000;\n"
         "                        0: no cap)\n"
         "  --restart-interval SEC  time from one restart of the board to the next at\n"
         "                        least (default 30)\n"
         "  --max-connections N   open connections, logged in or not (default 1000)\n"
         "  --login-timeout SEC   time a new connection has to log in (default 30)\n"
         "  --sync                flush the board to the disk (fdatasync) before every\n"
         "                        acknowledgement, not only to the operating system\n"
         "  --http PORT           serve the painting page and a read-only web view\n"
         "                        (/?watch) of the board on PORT (same address as\n"
         "                        --bind; 0 picks a free one; default: none)\n"
         "  --http-connections N  web connections open at once (default 512)\n"
         "  --web-root DIR        the page's files (HTML, JavaScript, WebAssembly) served\n"
         "                        at / and below (default: ../share/easel-server/web or\n"
         "                        ../web from the program's directory, the first with an\n"
         "                        index.html; without one, / shows the read-only view)\n"
         "  --web-origin ORIGIN   pages from ORIGIN (such as https://paint.example.org)\n"
         "                        may paint through the WebSocket besides the server's\n"
         "                        own; * allows any; may be given more than once\n"
         "  --help                show this help and exit\n";
}

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

// The first line of the file, without its line end.
static int read_password_file(const char* path, std::string* out) {
  std::ifstream in(path);
  if (!in) return 0;
  std::getline(in, *out);
  if (!out->empty() && out->back() == '\r') out->pop_back();
  return 1;
}

static int parse_number(const char* text, double low, double high, double* out) {
  if (!text || !*text) return 0;
  char* end = nullptr;
  errno = 0;
  double value = strtod(text, &end);
  if (errno != 0 || *end != 0 || !std::isfinite(value) || value < low || value > high) return 0;
  *out = value;
  return 1;
}

int options_parse(ServerOptions* options, int argc, char** argv, int* exit_status) {
  if (const char* password = getenv("EASEL_MOTD_PASSWORD")) options->motd_password = password;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      fputs(options_usage(), stdout);
      *exit_status = 0;
      return 0;
    }
    if (strcmp(arg, "--sync") == 0) {
      options->sync = true;
      continue;
    }
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    double number = 0;
    bool ok = value != nullptr;
    if (strcmp(arg, "--port") == 0) {
      ok = ok && parse_number(value, 0, 65535, &number) && number == std::floor(number);
      options->port = int(number);
    } else if (strcmp(arg, "--http") == 0) {
      ok = ok && parse_number(value, 0, 65535, &number) && number == std::floor(number);
      options->http_port = int(number);
    } else if (strcmp(arg, "--bind") == 0) {
      if (ok) options->bind_address = value;
    } else if (strcmp(arg, "--board") == 0) {
      ok = ok && *value;
      if (ok) options->board_path = value;
    } else if (strcmp(arg, "--motd-password") == 0) {
      // Every user of the machine can read a command line.
      fprintf(stderr,
              "easel-server: --motd-password is no longer taken, as every user of the machine"
              " can read a command line; give the password in EASEL_MOTD_PASSWORD or in a file"
              " (--motd-password-file)\n");
      *exit_status = 2;
      return 0;
    } else if (strcmp(arg, "--motd-password-file") == 0) {
      if (ok && !read_password_file(value, &options->motd_password)) {
        fprintf(stderr, "easel-server: cannot read the password file %s: %s\n", value,
                strerror(errno));
        *exit_status = 2;
        return 0;
      }
    } else if (strcmp(arg, "--trust") == 0) {
      AddressRange range;
      ok = ok && address_range_parse(value, &range);
      if (ok) options->trusted.push_back(range);
    } else if (strcmp(arg, "--draw-total") == 0) {
      ok = ok && parse_number(value, 0, 1e9, &number);
      options->draw_total = number * 1000;
    } else if (strcmp(arg, "--login-rate") == 0) {
      ok = ok && parse_number(value, 0, 1e9, &number);
      options->login_rate = number;
    } else if (strcmp(arg, "--login-burst") == 0) {
      ok = ok && parse_number(value, 1, 1e9, &number);
      options->login_burst = number;
    } else if (strcmp(arg, "--seats-per-source") == 0) {
      ok = ok && parse_number(value, 1, 1e6, &number);
      options->seats_per_source = int(number);
    } else if (strcmp(arg, "--unlogged-per-source") == 0) {
      ok = ok && parse_number(value, 1, 1e6, &number);
      options->unlogged_per_source = int(number);
    } else if (strcmp(arg, "--restart-interval") == 0) {
      ok = ok && parse_number(value, 0, 1e6, &number);
      options->restart_interval = int(number);
    } else if (strcmp(arg, "--http-connections") == 0) {
      ok = ok && parse_number(value, 1, 1e6, &number);
      options->http_connections = int(number);
    } else if (strcmp(arg, "--web-root") == 0) {
      ok = ok && *value;
      if (ok) options->web_root = value;
    } else if (strcmp(arg, "--web-origin") == 0) {
      // An origin has no path: "https://paint.example.org/" is that origin too.
      std::string origin = ok ? value : "";
      while (!origin.empty() && origin.back() == '/') origin.pop_back();
      ok = ok && !origin.empty();
      if (ok) options->web_origins.push_back(origin);
    } else if (strcmp(arg, "--max-output") == 0) {
      ok = ok && parse_number(value, 4096, 1e12, &number);
      options->max_pending_output = size_t(number);
    } else if (strcmp(arg, "--rate") == 0) {
      ok = ok && parse_number(value, 0, 1e9, &number);
      options->rate = number;
    } else if (strcmp(arg, "--burst") == 0) {
      ok = ok && parse_number(value, 1, 1e9, &number);
      options->burst = number;
    } else if (strcmp(arg, "--draw-budget") == 0) {
      ok = ok && parse_number(value, 0, 1e9, &number);
      options->draw_rate = number * 1000;
    } else if (strcmp(arg, "--draw-burst") == 0) {
      ok = ok && parse_number(value, 0, 1e9, &number);
      options->draw_burst = number * 1000;
    } else if (strcmp(arg, "--max-connections") == 0) {
      ok = ok && parse_number(value, 1, 1e6, &number);
      options->max_connections = int(number);
    } else if (strcmp(arg, "--login-timeout") == 0) {
      ok = ok && parse_number(value, 1, 1e6, &number);
      options->login_timeout = int(number);
    } else {
      fprintf(stderr, "easel-server: unknown option '%s'\nTry 'easel-server --help'.\n", arg);
      *exit_status = 2;
      return 0;
    }
    if (!ok) {
      fprintf(stderr, "easel-server: option %s needs a valid value\nTry 'easel-server --help'.\n",
              arg);
      *exit_status = 2;
      return 0;
    }
    i++;
  }
  return 1;
}
