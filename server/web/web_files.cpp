#include "web_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/url/parse_path.hpp>
#include <climits>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t PATH_BYTES = 1024;
constexpr size_t SEGMENTS = 16;

// The path's segments decoded, or false when one of them is refused.
bool split_path(const std::string& path, std::vector<std::string>* segments) {
  if (path.empty() || path[0] != '/' || path.size() > PATH_BYTES) return false;
  if (path == "/") {
    segments->push_back("index.html");
    return true;
  }
  boost::urls::result<boost::urls::segments_encoded_view> parsed = boost::urls::parse_path(path);
  if (!parsed) return false;
  for (const std::string& segment : boost::urls::segments_view(*parsed)) {
    if (segment.empty() || segment[0] == '.' || segment.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
      return false;
    segments->push_back(segment);
    if (segments->size() > SEGMENTS) return false;
  }
  return !segments->empty();
}

const char* content_type_of(const std::string& name) {
  static const struct {
    const char* extension;
    const char* type;
  } TYPES[] = {{".html", "text/html; charset=utf-8"},  {".js", "text/javascript; charset=utf-8"},
               {".mjs", "text/javascript; charset=utf-8"}, {".wasm", "application/wasm"},
               {".css", "text/css; charset=utf-8"},    {".json", "application/json"},
               {".png", "image/png"},                   {".svg", "image/svg+xml"},
               {".ico", "image/x-icon"},                {".txt", "text/plain; charset=utf-8"}};
  for (const auto& t : TYPES) {
    std::string e = t.extension;
    if (name.size() > e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0) return t.type;
  }
  return "application/octet-stream";
}

}  // namespace

int web_file_open(const std::string& root, const std::string& path, WebFile* out) {
  std::vector<std::string> segments;
  if (root.empty() || !split_path(path, &segments)) return 0;
  int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (size_t i = 0; dir >= 0 && i + 1 < segments.size(); i++) {
    int next = openat(dir, segments[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(dir);
    dir = next;
  }
  if (dir < 0) return 0;
  // Non-blocking, so that a FIFO placed there cannot hold the web thread.
  int fd = openat(dir, segments.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  close(dir);
  struct stat st;
  if (fd < 0) return 0;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return 0;
  }
  out->file = std::make_shared<BoardFile>();
  out->file->fd = fd;
  out->length = size_t(st.st_size);
  out->content_type = content_type_of(segments.back());
  char tag[96];
  snprintf(tag, sizeof tag, "\"f%llx-%llx-%llx\"", (unsigned long long)st.st_size,
           (unsigned long long)st.st_mtim.tv_sec * 1000000000ull + (unsigned long long)st.st_mtim.tv_nsec,
           (unsigned long long)st.st_ino);
  out->etag = tag;
  return 1;
}

std::string web_root_default() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  std::string dir(exe, size_t(n));
  dir.resize(dir.rfind('/') + 1);
  for (const char* beside : {"../share/easel-server/web", "../web"}) {
    std::string root = dir + beside;
    WebFile index;
    if (web_file_open(root, "/", &index)) return root;
  }
  return "";
}
