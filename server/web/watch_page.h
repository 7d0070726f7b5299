// The read-only view's page, web/watch.html, built into the server (by
// embed_file.cmake) so that it is served with no web root at all.
#pragma once
#include <cstddef>

extern const char WATCH_PAGE[];
extern const size_t WATCH_PAGE_SIZE;
