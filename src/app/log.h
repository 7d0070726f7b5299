// The log file "client.log" in the working directory, echoed to standard output.
#pragma once

enum LogLevel { LOG_DEBUG = 0, LOG_NOTICE = 1, LOG_WARNING = 2, LOG_ERROR = 3 };

bool log_open();
void log_write(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void log_close();
const char* log_timestamp();
