// Writing the server's small files whole: a file replaced at once (so a
// crash leaves the old one or the new one, never a piece), and bytes written
// whole at an offset.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Writes path anew through path + ".new": written whole, fsynced, renamed over
// path. With kept, the new file stays open read-write there; else it is
// closed. 0 on failure: path is as it was and the temporary file gone.
int file_replace(const std::string& path, const uint8_t* data, size_t length, mode_t mode, int* kept = nullptr);
// Writes data whole at offset at of fd. 0 on failure (a piece may be written).
int file_write_at(int fd, const uint8_t* data, size_t length, uint64_t at);
