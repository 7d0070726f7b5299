#include "server_log.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

void server_log(const char* format, ...) {
  timeval now;
  gettimeofday(&now, nullptr);
  tm parts;
  gmtime_r(&now.tv_sec, &parts);
  char stamp[40];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  // One write per line, flushed at once, so a log piped to a file or another
  // program is complete up to the last event even after a crash.
  fprintf(stdout, "%s.%03d %s\n", stamp, int(now.tv_usec / 1000), line);
  fflush(stdout);
}

void file_time_stamp(char* out, unsigned size) {
  time_t now = time(nullptr);
  tm parts;
  gmtime_r(&now, &parts);
  strftime(out, size, "%Y%m%d-%H%M%S", &parts);
}

double now_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
