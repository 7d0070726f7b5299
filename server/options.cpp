#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
         "  --motd-password WORD  password of /motd (default: none, /motd is refused)\n"
         "  --max-output BYTES    output kept for a user who does not read before the\n"
         "                        user is disconnected (default 8388608)\n"
         "  --rate N              commands per second a user may send before the server\n"
         "                        stops reading from that user for a while (default 50;\n"
         "                        0 turns the limit off)\n"
         "  --burst N             commands a user may send at once (default 100)\n"
         "  --draw-budget MS      milliseconds of one core a second that a user's drawing\n"
         "                        commands may cost every client to draw, as the server\n"
         "                        estimates it (default 100; 0 turns the budget off)\n"
         "  --draw-burst MS       drawing cost a user may save up (default 500)\n"
         "  --max-connections N   open connections, logged in or not (default 1000)\n"
         "  --login-timeout SEC   time a new connection has to log in (default 30)\n"
         "  --sync                flush the board to the disk (fdatasync) before every\n"
         "                        acknowledgement, not only to the operating system\n"
         "  --http PORT           serve a read-only web view of the board on PORT (same\n"
         "                        address as --bind; 0 picks a free one; default: none)\n"
         "  --help                show this help and exit\n";
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
      if (ok) options->motd_password = value;
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
