// The log file "client.log" in the working directory, echoed to standard output.
#pragma once

enum LogLevel { LOG_DEBUG = 0, LOG_NOTICE = 1, LOG_WARNING = 2, LOG_ERROR = 3 };

bool log_open();
void log_write(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void log_close();
const char* log_timestamp();

// The label a line of the given level carries ("NOTICE", "UNKNOWN"...).
const char* log_level_label(int level);
// Closes the file without the stop line and forgets it; for tests.
void log_reset();
