// The page's static files (HTML, JavaScript, the WebAssembly module) from one
// directory, the web root: a request path is resolved inside it and never
// leaves it. Boost.URL reads the path and decodes each segment's
// percent-escapes; a path that is none by RFC 3986, a segment that then holds
// a slash, a backslash or a NUL, that is empty or starts with a dot ("..",
// ".", hidden files), and any symbolic link on the way are refused, as is
// anything but a regular file. Files are opened as they are asked for, so a
// new build of the page is served at once.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "board_file.h"

struct WebFile {
  std::shared_ptr<BoardFile> file;  // open, read as it is sent
  size_t length = 0;
  std::string content_type;
  std::string etag;  // from the file's size, time and inode, with its quotes
};

// "/" is index.html. 1 and *out filled when the file is there to be served;
// 0 for a missing file and for every path refused.
int web_file_open(const std::string& root, const std::string& path, WebFile* out);
// The root when none is given: share/easel-server/web or web beside the
// program's directory (installed, or in the build directory), the first with
// an index.html; empty when neither has one.
std::string web_root_default();
