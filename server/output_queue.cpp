#include "output_queue.h"

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

// Small frames are gathered into chunks of this size so that a busy user's
// queue is a few large buffers rather than thousands of small ones.
static const size_t CHUNK_SIZE = 64 * 1024;

void output_append(OutputQueue* q, const uint8_t* data, size_t length) {
  if (length == 0) return;
  if (q->chunks.empty() || q->chunks.back().file || q->chunks.back().bytes.size() >= CHUNK_SIZE) {
    q->chunks.emplace_back();
    q->chunks.back().bytes.reserve(length > CHUNK_SIZE ? length : CHUNK_SIZE);
  }
  std::vector<uint8_t>& bytes = q->chunks.back().bytes;
  bytes.insert(bytes.end(), data, data + length);
  q->memory_bytes += length;
  if (q->shared_total) *q->shared_total += length;
}

void output_append_file(OutputQueue* q, const std::shared_ptr<BoardFile>& file, size_t begin,
                        size_t end) {
  if (begin >= end) return;
  OutputChunk chunk;
  chunk.file = file;
  chunk.offset = begin;
  chunk.end = end;
  q->chunks.push_back(std::move(chunk));
}

bool output_empty(const OutputQueue* q) { return q->chunks.empty(); }

void output_clear(OutputQueue* q) {
  q->chunks.clear();
  if (q->shared_total) *q->shared_total -= q->memory_bytes;
  q->memory_bytes = 0;
}

static int send_file_chunk(OutputChunk* chunk, int socket_fd) {
  while (chunk->offset < chunk->end) {
    off_t position = off_t(chunk->offset);
    ssize_t n = sendfile(socket_fd, chunk->file->fd, &position, chunk->end - chunk->offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
    if (n == 0) return -1;  // the file is shorter than it should be
    chunk->offset += size_t(n);
  }
  return 1;
}

int output_send(OutputQueue* q, int socket_fd) {
  while (!q->chunks.empty()) {
    OutputChunk& head = q->chunks.front();
    if (head.file) {
      size_t before = head.offset;
      int r = send_file_chunk(&head, socket_fd);
      q->sent += head.offset - before;
      if (r <= 0) return r;
      q->chunks.pop_front();
      continue;
    }
    // Gather the memory chunks up to the next file range into one call.
    iovec parts[16];
    int count = 0;
    for (auto it = q->chunks.begin(); it != q->chunks.end() && !it->file && count < 16; ++it) {
      parts[count].iov_base = it->bytes.data() + it->offset;
      parts[count].iov_len = it->bytes.size() - it->offset;
      count++;
    }
    msghdr message = {};
    message.msg_iov = parts;
    message.msg_iovlen = size_t(count);
    ssize_t n = sendmsg(socket_fd, &message, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
    size_t sent = size_t(n);
    q->memory_bytes -= sent;
    if (q->shared_total) *q->shared_total -= sent;
    q->sent += sent;
    while (sent > 0) {
      OutputChunk& c = q->chunks.front();
      size_t left = c.bytes.size() - c.offset;
      if (sent < left) {
        c.offset += sent;
        break;
      }
      sent -= left;
      q->chunks.pop_front();
    }
  }
  return 1;
}
