#include "web_side.h"

#include <cerrno>
#include <cstring>

#include "server_log.h"
#include "web_board.h"
#include "web_files.h"
#include "web_routes.h"
#include "web_server.h"

struct WebSide {
  WebBridge bridge;
  WebSite site;
  WebServer* server = nullptr;
};

namespace {

void say_where_the_page_is(const std::string& root) {
  WebFile index;
  if (root.empty())
    server_log("no page files found: / shows the read-only view");
  else if (!web_file_open(root, "/", &index))
    server_log("page files from %s, which has no index.html: / shows the read-only view", root.c_str());
  else
    server_log("page files from %s", root.c_str());
}

}  // namespace

WebSide* web_side_start(const ServerOptions* options, const ServerMetrics* metrics) {
  WebSide* w = new WebSide;
  if (!web_bridge_open(&w->bridge)) {
    server_log("error: cannot set up the web side's connections: %s", strerror(errno));
    delete w;
    return nullptr;
  }
  w->site.metrics = metrics;
  w->site.root = options->web_root.empty() ? web_root_default() : options->web_root;
  if (options->http_port >= 0) say_where_the_page_is(w->site.root);
  w->site.board = web_board_start(checkpoint_path(options->board_path), options->checkpoint_every);
  if (options->http_port < 0) return w;  // the painter alone, for the checkpoints
  const WebSite* site = &w->site;
  w->server = web_server_start(
      options->bind_address, options->http_port, options,
      [site](const WebRequest& request, WebReply* reply) { web_route(site, request, reply); }, &w->bridge);
  if (!w->server) {
    web_side_stop(w);
    return nullptr;
  }
  return w;
}

// The transport first, so that nothing is offered once the bridge is closed.
void web_side_stop(WebSide* w) {
  if (!w) return;
  web_server_stop(w->server);
  web_board_stop(w->site.board);
  web_bridge_close(&w->bridge);
  delete w;
}

int web_side_wakeup_fd(const WebSide* w) { return w->bridge.event_fd; }

std::vector<BridgedConnection> web_side_take(WebSide* w) { return web_bridge_take(&w->bridge); }

void web_side_board(WebSide* w, const std::shared_ptr<BoardFile>& file, size_t length, size_t commands) {
  web_board_feed(w->site.board, file, length, commands);
}

void web_side_users(WebSide* w, std::vector<std::string> names) { web_board_users(w->site.board, std::move(names)); }

std::shared_ptr<const Checkpoint> web_side_checkpoint(WebSide* w) { return web_board_checkpoint(w->site.board); }
