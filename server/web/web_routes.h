// What each path of the web side gives: the page's files (web_files.h; "/"
// is the painting page), the read-only view (at /?watch, and at / when there
// is no painting page), the board's state as JSON, its picture as PNG, the
// board file and the metrics. Everything else is a page file or 404.
#pragma once
#include <string>

#include "metrics.h"
#include "web_board.h"
#include "web_server.h"

// What the paths are answered from.
struct WebSite {
  WebBoard* board = nullptr;
  const ServerMetrics* metrics = nullptr;
  std::string root;  // the page's files; empty: the read-only view only
};

// Answers one request; called on the web thread, never waits.
void web_route(const WebSite* site, const WebRequest& request, WebReply* reply);
// Whether "watch" is among the parameters of a request's query.
bool web_query_watching(const std::string& query);
