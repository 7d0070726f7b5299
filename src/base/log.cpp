#include "base/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

const char LOG_FILE_NAME[] = "client.log";

FILE* log_file = nullptr;
char log_message[1024];
char log_time[128];
bool exit_hook_registered = false;
// The engine may log from a drawing thread: one line is formatted and written at a time.
std::mutex log_lock;

void log_line(const char* label, const char* text) {
  fprintf(log_file, "%s [%s] %s\n", log_timestamp(), label, text);
  fflush(log_file);
}

void log_close_at_exit() { log_close(); }

}  // namespace

const char* log_level_label(int level) {
  switch (level) {
    case LOG_DEBUG: return "DEBUG";
    case LOG_NOTICE: return "NOTICE";
    case LOG_WARNING: return "WARNING";
    case LOG_ERROR: return "ERROR";
    default: return "UNKNOWN";
  }
}

// "Feb/02/2005 13:04:05": English month names whatever the locale.
const char* log_timestamp() {
  static const char MONTHS[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local) || local.tm_mon < 0 || local.tm_mon > 11) {
    log_time[0] = '\0';
    return log_time;
  }
  snprintf(log_time, sizeof log_time, "%s/%02d/%04d %02d:%02d:%02d", MONTHS[local.tm_mon],
           local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return log_time;
}

bool log_open() {
  if (log_file) return true;
  log_file = fopen(LOG_FILE_NAME, "a");
  if (!log_file) return false;
  log_line("NOTICE", "Logging Started.");
  return true;
}

void log_write(int level, const char* format, ...) {
  // Diagnostics are dropped before any formatting: they cost one comparison.
  if (level == LOG_DEBUG) return;

  std::lock_guard<std::mutex> hold(log_lock);
  va_list args;
  va_start(args, format);
  vsnprintf(log_message, sizeof log_message, format, args);
  va_end(args);

  if (!log_file) {
    log_file = fopen(LOG_FILE_NAME, "a");
    if (!log_file) {
      fprintf(stderr, "Unable to open client.log, missing entry was: %s", log_message);
      return;
    }
    log_line("NOTICE", "Logging Started.");
    // One registration is enough: log_close does nothing once the file is closed.
    if (!exit_hook_registered) exit_hook_registered = atexit(log_close_at_exit) == 0;
  }
  log_line(log_level_label(level), log_message);
  printf("[%s] %s\n", log_level_label(level), log_message);
  fflush(stdout);
}

void log_close() {
  if (!log_file) return;
  log_line("NOTICE", "Logging Stopped.");
  fclose(log_file);
  log_file = nullptr;
}

void log_reset() {
  if (log_file) fclose(log_file);
  log_file = nullptr;
}
