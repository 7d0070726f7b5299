// Time-stamped lines on standard output: one per connection, login, vote,
// restart, warning and error.
#pragma once

void server_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// UTC time stamp for file names: YYYYMMDD-HHMMSS.
void file_time_stamp(char* out, unsigned size);
// Seconds on the monotonic clock, for deadlines and latencies.
double now_seconds();
