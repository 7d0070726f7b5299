// The bytes waiting to be sent to one client, in order: frames the server
// built, and ranges of a board file streamed straight from the disk to a user
// who logs in (so a large board costs no memory per user).
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "board_file.h"

struct OutputChunk {
  std::vector<uint8_t> bytes;       // when file is null
  std::shared_ptr<BoardFile> file;  // otherwise: the range [offset, end) of it
  size_t offset = 0;                // bytes already sent, or the file position
  size_t end = 0;
};

struct OutputQueue {
  std::deque<OutputChunk> chunks;
  size_t memory_bytes = 0;  // unsent bytes held in memory (file ranges excluded)
  uint64_t sent = 0;        // bytes sent so far, for the server's metrics
  size_t* shared_total = nullptr;  // when set: memory_bytes of every queue together
};

void output_append(OutputQueue* q, const uint8_t* data, size_t length);
void output_append_file(OutputQueue* q, const std::shared_ptr<BoardFile>& file, size_t begin,
                        size_t end);
bool output_empty(const OutputQueue* q);
// Sends as much as the socket takes without blocking.
// Returns 1 when everything went, 0 when the socket is full, -1 on an error.
int output_send(OutputQueue* q, int socket_fd);
void output_clear(OutputQueue* q);
