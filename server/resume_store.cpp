#include "resume_store.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "base/digest.h"
#include "file_write.h"
#include "server_log.h"

namespace {

const char MAGIC[8] = {'E', 'A', 'S', 'E', 'L', 'R', 'J', '1'};
enum RecordKind : uint8_t { RECORD_SESSION = 1, RECORD_FORGET = 2 };
// Bytes of a journal read at start at most; beyond that it is damaged (ours
// never grows past a few hundred KiB).
const uint64_t JOURNAL_READ_MAX = 64u << 20;

void put(std::vector<uint8_t>* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out->push_back(uint8_t(value >> (8 * i)));
}

uint64_t get(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; i++) value |= uint64_t(at[i]) << (8 * i);
  return value;
}

void put_digest(std::vector<uint8_t>* out, size_t from) {
  put(out, digest_bytes(DIGEST_START, out->data() + from, out->size() - from), 8);
}

bool digest_holds(const uint8_t* at, size_t length) {
  return digest_bytes(DIGEST_START, at, length - 8) == get(at + length - 8, 8);
}

void put_header(std::vector<uint8_t>* out, uint32_t generation, uint64_t inode) {
  out->insert(out->end(), MAGIC, MAGIC + 8);
  put(out, generation, 4);
  put(out, inode, 8);
  put_digest(out, 0);
}

void put_session(std::vector<uint8_t>* out, const ResumeSession& s) {
  size_t from = out->size();
  out->push_back(RECORD_SESSION);
  out->insert(out->end(), s.token, s.token + RESUME_TOKEN_SIZE);
  put(out, s.generation, 4);
  put(out, s.accepted, 4);
  put(out, s.board_from, 8);
  put(out, s.board_to, 8);
  put(out, uint64_t(s.ended_at), 8);
  size_t name_length = strnlen(s.name, MAX_NAME_CHARS);
  out->push_back(uint8_t(name_length));
  for (size_t i = 0; i < size_t(MAX_NAME_CHARS); i++) out->push_back(i < name_length ? uint8_t(s.name[i]) : 0);
  put_digest(out, from);
}

void put_forget(std::vector<uint8_t>* out, const std::vector<uint8_t>& token) {
  size_t from = out->size();
  out->push_back(RECORD_FORGET);
  out->insert(out->end(), token.begin(), token.end());
  out->resize(from + RESUME_RECORD_SIZE - 8, 0);
  put_digest(out, from);
}

// A record read back: 0 when it is damaged.
int read_record(const uint8_t* at, ResumeSession* s, uint8_t* kind) {
  if (!digest_holds(at, RESUME_RECORD_SIZE) || (at[0] != RECORD_SESSION && at[0] != RECORD_FORGET)) return 0;
  *kind = at[0];
  memcpy(s->token, at + 1, RESUME_TOKEN_SIZE);
  const uint8_t* p = at + 1 + RESUME_TOKEN_SIZE;
  s->generation = uint32_t(get(p, 4));
  s->accepted = uint32_t(get(p + 4, 4));
  s->board_from = get(p + 8, 8);
  s->board_to = get(p + 16, 8);
  s->ended_at = int64_t(get(p + 24, 8));
  size_t name_length = p[32];
  if (name_length > size_t(MAX_NAME_CHARS) || s->board_from > s->board_to) return 0;
  memset(s->name, 0, sizeof s->name);
  memcpy(s->name, p + 33, name_length);
  return 1;
}

std::vector<uint8_t> read_file(const std::string& path, bool* found) {
  std::vector<uint8_t> bytes;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  *found = fd >= 0;
  if (fd < 0) return bytes;
  uint8_t block[65536];
  for (;;) {
    ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || bytes.size() >= JOURNAL_READ_MAX) break;
    bytes.insert(bytes.end(), block, block + n);
  }
  close(fd);
  return bytes;
}

int random_token(uint8_t* token) {
  size_t got = 0;
  while (got < RESUME_TOKEN_SIZE) {
    ssize_t n = getrandom(token + got, RESUME_TOKEN_SIZE - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  if (got == RESUME_TOKEN_SIZE) return 1;
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  bool ok = read(fd, token, RESUME_TOKEN_SIZE) == ssize_t(RESUME_TOKEN_SIZE);
  close(fd);
  return ok;
}

void mark(ResumeStore* s, ResumeSession* session) {
  session->dirty = true;
  s->changed = true;
}

void remove_session(ResumeStore* s, size_t index, bool journal) {
  ResumeSession* session = s->sessions[index].get();
  if (journal) {
    s->forgotten.emplace_back(session->token, session->token + RESUME_TOKEN_SIZE);
    s->changed = true;
  }
  s->sessions[index] = std::move(s->sessions.back());
  s->sessions.pop_back();
}

size_t index_of(const ResumeStore* s, const ResumeSession* session) {
  for (size_t i = 0; i < s->sessions.size(); i++)
    if (s->sessions[i].get() == session) return i;
  return s->sessions.size();
}

// Within RESUME_SESSIONS_MAX - room: the absent sessions whose link ended first go.
void make_room(ResumeStore* s, size_t room, bool journal) {
  while (s->sessions.size() + room > RESUME_SESSIONS_MAX) {
    size_t oldest = s->sessions.size();
    for (size_t i = 0; i < s->sessions.size(); i++) {
      const ResumeSession* t = s->sessions[i].get();
      if (!t->link && (oldest == s->sessions.size() || t->ended_at < s->sessions[oldest]->ended_at)) oldest = i;
    }
    if (oldest == s->sessions.size()) return;  // all present (never: there are far fewer users)
    remove_session(s, oldest, journal);
  }
}

void clear_changes(ResumeStore* s) {
  for (auto& session : s->sessions) session->dirty = false;
  s->forgotten.clear();
  s->changed = false;
}

// The journal anew: the header and every session, through a temporary file.
int rewrite(ResumeStore* s) {
  std::vector<uint8_t> bytes;
  bytes.reserve(RESUME_HEADER_SIZE + s->sessions.size() * RESUME_RECORD_SIZE);
  put_header(&bytes, s->generation, s->board_inode);
  for (const auto& session : s->sessions) put_session(&bytes, *session);
  int fd = -1;
  if (!file_replace(s->path, bytes.data(), bytes.size(), 0600, &fd)) return 0;
  if (s->sync) {
    // The rename itself, against power loss.
    size_t slash = s->path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : s->path.substr(0, slash + 1);
    int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
      fsync(dir_fd);
      close(dir_fd);
    }
  }
  if (s->fd >= 0) close(s->fd);
  s->fd = fd;
  s->length = bytes.size();
  s->rewrite = false;
  clear_changes(s);
  return 1;
}

// What changed, appended after the whole part of the journal.
int append(ResumeStore* s) {
  std::vector<uint8_t> bytes;
  for (const auto& session : s->sessions)
    if (session->dirty) put_session(&bytes, *session);
  for (const auto& token : s->forgotten) put_forget(&bytes, token);
  // A failed write may have left a piece: it is cut before anything follows.
  if (s->failing && ftruncate(s->fd, off_t(s->length)) != 0) return 0;
  if (!file_write_at(s->fd, bytes.data(), bytes.size(), s->length)) return 0;
  if (s->sync && fdatasync(s->fd) != 0) return 0;
  s->length += bytes.size();
  clear_changes(s);
  return 1;
}

}  // namespace

uint64_t resume_file_inode(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? uint64_t(st.st_ino) : 0;
}

uint64_t resume_store_load(ResumeStore* s, const std::string& path, bool sync, double keep_seconds,
                           uint64_t board_inode, uint64_t board_length, int64_t now) {
  s->path = path;
  s->sync = sync;
  s->keep_seconds = keep_seconds;
  s->board_inode = board_inode;
  s->sessions.clear();
  s->rewrite = true;
  const char* file = path.c_str();
  bool found = false;
  std::vector<uint8_t> bytes = read_file(path, &found);
  if (!found) {
    server_log("resume journal %s: none yet, no sessions to resume", file);
    return board_length;
  }
  if (bytes.size() < RESUME_HEADER_SIZE || memcmp(bytes.data(), MAGIC, 8) != 0 ||
      !digest_holds(bytes.data(), RESUME_HEADER_SIZE)) {
    server_log("warning: the resume journal %s is damaged: no session can be resumed, they start afresh", file);
    return board_length;
  }
  uint32_t generation = uint32_t(get(bytes.data() + 8, 4));
  s->generation = generation;
  if (get(bytes.data() + 12, 8) != board_inode) {
    // The board file was replaced (a restart cut short by a crash, or by hand).
    s->generation = generation + 1;
    server_log("resume journal %s: the board file is not the one it knew; its sessions are of a board restarted since", file);
  }
  std::vector<ResumeSession> records;
  std::vector<uint8_t> kinds;
  size_t at = RESUME_HEADER_SIZE;
  for (ResumeSession r; bytes.size() - at >= RESUME_RECORD_SIZE; at += RESUME_RECORD_SIZE) {
    uint8_t kind = 0;
    if (!read_record(bytes.data() + at, &r, &kind)) break;
    records.push_back(r);
    kinds.push_back(kind);
  }
  if (at < bytes.size())
    server_log("warning: the resume journal %s ends in %zu torn or damaged bytes; they are dropped", file,
               bytes.size() - at);
  // A board cut in the middle of an iteration's frames goes back to where that iteration began.
  uint64_t keep = board_length;
  for (bool cut = true; cut;) {
    cut = false;
    for (size_t i = 0; i < records.size(); i++) {
      const ResumeSession& r = records[i];
      if (kinds[i] == RECORD_SESSION && r.generation == s->generation && r.board_from < keep && keep < r.board_to) {
        keep = r.board_from;
        cut = true;
      }
    }
  }
  std::unordered_map<std::string, ResumeSession> kept;
  size_t dropped = 0;
  for (size_t i = 0; i < records.size(); i++) {
    const ResumeSession& r = records[i];
    std::string token(reinterpret_cast<const char*>(r.token), RESUME_TOKEN_SIZE);
    if (kinds[i] == RECORD_FORGET)
      kept.erase(token);
    else if (r.generation == s->generation && r.board_to > keep)
      dropped++;  // its frames never reached the board: the count before them holds
    else
      kept[token] = r;
  }
  for (const auto& entry : kept) {
    ResumeSession* session = new ResumeSession(entry.second);
    s->sessions.emplace_back(session);
    // Present when the server stopped: its link ended now, as far as anyone can tell.
    if (session->ended_at == 0) session->ended_at = now;
  }
  // What these forget needs no record: the journal is written anew.
  const size_t expired = resume_store_sweep(s, now);
  make_room(s, 0, false);
  server_log("resume journal %s: %zu sessions (%zu expired, %zu records of frames never written dropped)", file,
             s->sessions.size(), expired, dropped);
  return keep;
}

int resume_store_flush(ResumeStore* s) {
  if (s->path.empty()) {
    clear_changes(s);
    s->rewrite = false;
    return 1;
  }
  if (!s->rewrite && !s->changed) return 1;
  bool ok = s->rewrite || s->fd < 0 ? rewrite(s) : append(s);
  if (!ok) {
    if (!s->failing)
      server_log("error: cannot write the resume journal %s: %s; acknowledgements wait", s->path.c_str(),
                 strerror(errno));
    s->failing = true;
    return 0;
  }
  if (s->failing) server_log("the resume journal %s is written again", s->path.c_str());
  s->failing = false;
  return 1;
}

void resume_store_trim(ResumeStore* s, double now) {
  if (s->path.empty() || s->failing || now < s->next_rewrite_try) return;
  uint64_t compact = RESUME_HEADER_SIZE + s->sessions.size() * RESUME_RECORD_SIZE;
  if (s->length <= RESUME_JOURNAL_SLACK + 2 * compact) return;
  if (!rewrite(s)) {
    // The old journal is whole: it goes on, and the rewrite is tried again later.
    server_log("error: cannot rewrite the resume journal %s: %s", s->path.c_str(), strerror(errno));
    s->next_rewrite_try = now + 1;
  }
}

void resume_store_close(ResumeStore* s) {
  if (s->fd >= 0) close(s->fd);
  s->fd = -1;
}

ResumeSession* resume_store_find(ResumeStore* s, const uint8_t* token) {
  // Every byte of every session is looked at: the time tells nothing of how
  // much of a guessed token was right.
  ResumeSession* found = nullptr;
  for (auto& session : s->sessions) {
    unsigned diff = 0;
    for (size_t i = 0; i < RESUME_TOKEN_SIZE; i++) diff |= unsigned(session->token[i] ^ token[i]);
    if (diff == 0) found = session.get();
  }
  return found;
}

ResumeSession* resume_store_create(ResumeStore* s, const std::string& name, Client* link) {
  std::unique_ptr<ResumeSession> session(new ResumeSession);
  if (!random_token(session->token)) {
    server_log("error: no random bytes for a session's token: %s", strerror(errno));
    return nullptr;
  }
  make_room(s, 1, true);
  snprintf(session->name, sizeof session->name, "%s", name.c_str());
  session->generation = s->generation;
  session->link = link;
  mark(s, session.get());
  s->sessions.push_back(std::move(session));
  return s->sessions.back().get();
}

void resume_store_forget(ResumeStore* s, ResumeSession* session) {
  size_t i = index_of(s, session);
  if (i < s->sessions.size()) remove_session(s, i, true);
}

void resume_store_accept(ResumeStore* s, ResumeSession* session, uint64_t board_written, uint64_t board_size) {
  session->accepted++;
  session->board_from = board_written;  // the same all through one iteration
  session->board_to = board_size;
  mark(s, session);
}

void resume_store_attach(ResumeStore* s, ResumeSession* session, Client* link) {
  session->link = link;
  session->ended_at = 0;
  mark(s, session);
}

void resume_store_detach(ResumeStore* s, ResumeSession* session, int64_t now) {
  session->link = nullptr;
  session->ended_at = now;
  mark(s, session);
}

void resume_store_restart(ResumeStore* s, uint64_t board_inode) {
  s->generation++;
  s->board_inode = board_inode;
  for (auto& session : s->sessions) {
    if (!session->link) continue;
    session->generation = s->generation;
    session->board_from = session->board_to = 0;  // all it accepted is on the old board
  }
  s->rewrite = true;
}

size_t resume_store_sweep(ResumeStore* s, int64_t now) {
  size_t forgotten = 0;
  for (size_t i = 0; i < s->sessions.size();) {
    const ResumeSession* session = s->sessions[i].get();
    if (!session->link && double(now - session->ended_at) > s->keep_seconds) {
      remove_session(s, i, true);
      forgotten++;
    } else {
      i++;
    }
  }
  return forgotten;
}
