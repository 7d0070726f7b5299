#include "web_routes.h"

#include <boost/url/parse_query.hpp>

#include "watch_page.h"
#include "web_files.h"

namespace {

std::shared_ptr<const std::string> text(std::string s) {
  return std::make_shared<const std::string>(std::move(s));
}

std::string version_of(uint64_t epoch, size_t length) {
  return std::to_string(epoch) + "-" + std::to_string(length);
}

std::string version_tag(uint64_t epoch, size_t length) {
  return "\"" + version_of(epoch, length) + "\"";
}

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

int serve_file(const WebSite* site, const std::string& path, WebReply* reply) {
  WebFile f;
  if (!web_file_open(site->root, path, &f)) return 0;
  reply->content_type = f.content_type;
  reply->etag = f.etag;
  reply->cache_control = "no-cache";
  reply->ranges = true;
  reply->file = f.file;
  reply->file_length = f.length;
  if (f.length == 0) reply->body = text("");
  return 1;
}

void serve_watch_page(const WebSite* site, WebReply* reply) {
  web_board_look(site->board);
  static const std::shared_ptr<const std::string> page = text(std::string(WATCH_PAGE, WATCH_PAGE_SIZE));
  reply->content_type = "text/html; charset=utf-8";
  reply->body = page;
}

void serve_index(const WebSite* site, const WebRequest& request, WebReply* reply) {
  if (web_query_watching(request.query) || !serve_file(site, request.path, reply)) serve_watch_page(site, reply);
}

void serve_status(const WebSite* site, const WebRequest&, WebReply* reply) {
  web_board_look(site->board);
  BoardSnapshot s = web_board_snapshot(site->board);
  std::string json = "{\"version\":" + json_text(version_of(s.epoch, s.length)) +
                     ",\"strokes\":" + std::to_string(s.commands) + ",\"users\":[";
  const std::vector<std::string>& users = *s.users;
  for (size_t i = 0; i < users.size(); i++) json += (i ? "," : "") + json_text(users[i]);
  reply->content_type = "application/json";
  reply->cache_control = "no-store";
  reply->body = text(json + "]}");
}

// The last finished picture goes out with its own tag, or 503 while there is none.
void serve_picture(const WebSite* site, const WebRequest&, WebReply* reply) {
  BoardPicture p = web_board_picture(site->board, web_board_snapshot(site->board));
  if (!p.png) {
    reply->status = 503;
    reply->retry_after = 1;
    reply->cache_control = "no-store";
    reply->body = text(p.failed ? "The picture cannot be drawn.\n" : "The picture is being drawn.\n");
    return;
  }
  reply->content_type = "image/png";
  reply->etag = version_tag(p.epoch, p.length);
  reply->cache_control = "no-cache";
  reply->ranges = true;
  reply->body = p.png;
}

void serve_board_file(const WebSite* site, const WebRequest&, WebReply* reply) {
  BoardSnapshot s = web_board_snapshot(site->board);
  reply->content_type = "application/octet-stream";
  reply->etag = version_tag(s.epoch, s.length);
  reply->cache_control = "no-cache";
  reply->ranges = true;
  reply->file = s.file;
  reply->file_length = s.file ? s.length : 0;
  if (!s.file) reply->body = text("");
}

void serve_metrics(const WebSite* site, const WebRequest&, WebReply* reply) {
  reply->content_type = "text/plain; version=0.0.4";
  reply->body = text(metrics_text(site->metrics));
}

struct Route {
  const char* path;
  void (*serve)(const WebSite* site, const WebRequest& request, WebReply* reply);
};

const Route ROUTES[] = {
    {"/", serve_index},
    {"/status", serve_status},
    {"/board.png", serve_picture},
    {"/board.easel", serve_board_file},
    {"/metrics", serve_metrics},
};

}  // namespace

bool web_query_watching(const std::string& query) {
  boost::urls::result<boost::urls::params_encoded_view> parsed = boost::urls::parse_query(query);
  if (!parsed) return false;
  for (const boost::urls::param& p : boost::urls::params_view(*parsed))
    if (p.key == "watch") return true;
  return false;
}

void web_route(const WebSite* site, const WebRequest& request, WebReply* reply) {
  for (const Route& route : ROUTES)
    if (request.path == route.path) return route.serve(site, request, reply);
  if (serve_file(site, request.path, reply)) return;
  reply->status = 404;
  reply->body = text("There is nothing here.\n");
}
