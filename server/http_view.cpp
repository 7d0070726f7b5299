#include "http_view.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>

#include "board_painter.h"
#include "metrics.h"
#include "server_log.h"
#include "web_files.h"
#include "web_server.h"

namespace {

// The picture is kept up to date this long after the last request for it.
constexpr double INTEREST_SECONDS = 30;
// The painter reads the board file in pieces of this size.
constexpr size_t READ_PIECE = 1 << 20;

const char PAGE[] = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Easel</title>
<style>
html,body{margin:0;height:100%;background:#3a3632;color:#eee;font:15px sans-serif;overflow:hidden}
#bar{height:24px;line-height:24px;padding:0 8px}
#pic{display:block;width:100vw;height:calc(100vh - 24px);object-fit:contain}
</style></head><body>
<div id="bar"><b id="strokes">0</b> strokes &middot; <span id="users"></span></div>
<img id="pic" alt="the board">
<script>
// The picture comes with the version it shows, which may be older than the
// board while the server draws: it is asked for again until they agree.
let shown = '';
async function poll() {
  try {
    const s = await (await fetch('/status', {cache: 'no-store'})).json();
    document.getElementById('strokes').textContent = s.strokes;
    document.getElementById('users').textContent =
        s.users.length ? s.users.join(', ') : 'nobody is painting';
    if (s.version !== shown) {
      const r = await fetch('/board.png', {cache: 'no-store',
                                           headers: shown ? {'If-None-Match': '"' + shown + '"'} : {}});
      if (r.status === 200) {
        const tag = (r.headers.get('ETag') || '').replace(/"/g, '');
        const pic = document.getElementById('pic'), old = pic.src;
        pic.onload = () => { if (old.startsWith('blob:')) URL.revokeObjectURL(old); };
        pic.src = URL.createObjectURL(await r.blob());
        shown = tag;
      }
    }
  } catch (e) {}
  setTimeout(poll, 500);
}
poll();
</script></body></html>
)";

}  // namespace

struct HttpView {
  const ServerMetrics* metrics = nullptr;
  std::string web_root;  // the page's files; empty: the built-in page only
  WebServer* web = nullptr;
  std::thread painter;
  // The relay loop's own record of what it handed over last.
  std::shared_ptr<BoardFile> given_file;
  size_t given_length = SIZE_MAX;

  std::mutex feed_lock;  // held for pointer and number copies only
  std::shared_ptr<BoardFile> file;
  uint64_t epoch = 0;
  size_t length = 0, commands = 0;
  std::shared_ptr<const std::vector<std::string>> users =
      std::make_shared<const std::vector<std::string>>();

  std::mutex picture_lock;
  std::condition_variable picture_changed;
  std::shared_ptr<const std::string> png;  // the last finished picture
  uint64_t png_epoch = 0;
  size_t png_length = 0;
  double interest_until = 0;
  bool png_wanted = false;  // a request found the picture behind the board
  bool stopping = false;
  bool painter_failed = false;
};

namespace {

struct Snapshot {
  std::shared_ptr<BoardFile> file;
  uint64_t epoch = 0;
  size_t length = 0, commands = 0;
  std::shared_ptr<const std::vector<std::string>> users;
};

Snapshot snapshot(HttpView* v) {
  std::lock_guard<std::mutex> hold(v->feed_lock);
  return Snapshot{v->file, v->epoch, v->length, v->commands, v->users};
}

std::string version_of(uint64_t epoch, size_t length) {
  return std::to_string(epoch) + "-" + std::to_string(length);
}

std::string version_tag(uint64_t epoch, size_t length) {
  return "\"" + version_of(epoch, length) + "\"";
}

void want_picture(HttpView* v) {
  std::lock_guard<std::mutex> hold(v->picture_lock);
  v->interest_until = now_seconds() + INTEREST_SECONDS;
  v->picture_changed.notify_all();
}

// Applies the board file's frames from *drawn to length; returns 0 when the
// file cannot be read.
int draw_from_file(BoardPainter* p, const BoardFile& file, size_t* drawn, size_t length,
                   std::vector<uint8_t>* piece) {
  while (*drawn < length) {
    size_t want = std::min(READ_PIECE, length - *drawn);
    piece->resize(want);
    ssize_t got = pread(file.fd, piece->data(), want, off_t(*drawn));
    if (got <= 0) return 0;
    size_t used = painter_apply(p, piece->data(), size_t(got));
    if (used == 0) return 0;  // the published length ends on a whole frame
    *drawn += used;
  }
  return 1;
}

// Draws only while someone looks: new commands are applied in order from the
// board file, a new board starts from the paper, and a picture is encoded
// when one is asked for. It runs at the lowest priority: the relay loop comes
// first for the CPU.
void paint_loop(HttpView* v) {
  setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 19);
  BoardPainter* p = painter_create();
  std::unique_lock<std::mutex> hold(v->picture_lock);
  if (!p) {
    server_log("error: the web view cannot draw the board");
    v->painter_failed = true;
    return;
  }
  uint64_t epoch = UINT64_MAX, encoded_epoch = 0;
  size_t drawn = 0, encoded_length = SIZE_MAX;
  bool unreadable = false;
  std::vector<uint8_t> piece;
  while (!v->stopping) {
    bool wanted = v->png_wanted;
    v->png_wanted = false;
    if (wanted || now_seconds() <= v->interest_until) {
      hold.unlock();
      Snapshot s = snapshot(v);
      std::shared_ptr<std::string> png;
      // Without memory the picture waits; the relay goes on.
      try {
        if (s.epoch != epoch) {
          painter_reset(p);
          epoch = s.epoch;
          drawn = 0;
          unreadable = false;
        }
        if (s.file && !unreadable && !draw_from_file(p, *s.file, &drawn, s.length, &piece)) {
          server_log("error: the web view cannot read the board file");
          unreadable = true;
        }
        std::vector<uint8_t>().swap(piece);
        if (wanted && (epoch != encoded_epoch || drawn != encoded_length)) {
          png = std::make_shared<std::string>();
          if (!painter_png(p, png.get())) png.reset();
          encoded_epoch = epoch;
          encoded_length = drawn;
        }
      } catch (const std::bad_alloc&) {
        server_log("error: the web view has no memory to draw the board");
        png.reset();
      }
      hold.lock();
      if (png) {
        v->png = png;
        v->png_epoch = epoch;
        v->png_length = drawn;
      }
    }
    v->picture_changed.wait_for(hold, std::chrono::milliseconds(250),
                                [v] { return v->stopping || v->png_wanted; });
  }
  hold.unlock();
  painter_destroy(p);
}

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::shared_ptr<const std::string> text(std::string s) {
  return std::make_shared<const std::string>(std::move(s));
}

// Never waits for the painter: the last finished picture goes out with its own
// tag (and a newer one is asked for), or 503 while there is none.
void serve_png(HttpView* v, WebReply* reply) {
  Snapshot s = snapshot(v);
  want_picture(v);
  std::lock_guard<std::mutex> hold(v->picture_lock);
  if (!v->png || v->png_epoch != s.epoch || v->png_length != s.length) {
    v->png_wanted = true;
    v->picture_changed.notify_all();
  }
  if (!v->png) {
    reply->status = 503;
    reply->retry_after = 1;
    reply->cache_control = "no-store";
    reply->body = text(v->painter_failed ? "The picture cannot be drawn.\n"
                                         : "The picture is being drawn.\n");
    return;
  }
  reply->content_type = "image/png";
  reply->etag = version_tag(v->png_epoch, v->png_length);
  reply->cache_control = "no-cache";
  reply->ranges = true;
  reply->body = v->png;
}

// "watch" among the query's parameters.
bool watching(const std::string& query) {
  std::string q = "&" + query + "&";
  return q.find("&watch&") != std::string::npos || q.find("&watch=") != std::string::npos;
}

int serve_file(HttpView* v, const std::string& path, WebReply* reply) {
  WebFile f;
  if (!web_file_open(v->web_root, path, &f)) return 0;
  reply->content_type = f.content_type;
  reply->etag = f.etag;
  reply->cache_control = "no-cache";
  reply->ranges = true;
  reply->file = f.file;
  reply->file_length = f.length;
  if (f.length == 0) reply->body = text("");
  return 1;
}

void route(HttpView* v, const WebRequest& request, WebReply* reply) {
  const std::string& path = request.path;
  if (path == "/" && (watching(request.query) || !serve_file(v, path, reply))) {
    want_picture(v);
    reply->content_type = "text/html; charset=utf-8";
    static const std::shared_ptr<const std::string> page = text(PAGE);
    reply->body = page;
  } else if (path == "/status") {
    want_picture(v);
    Snapshot s = snapshot(v);
    std::string json = "{\"version\":" + json_text(version_of(s.epoch, s.length)) +
                       ",\"strokes\":" + std::to_string(s.commands) + ",\"users\":[";
    const std::vector<std::string>& users = *s.users;
    for (size_t i = 0; i < users.size(); i++) json += (i ? "," : "") + json_text(users[i]);
    reply->content_type = "application/json";
    reply->cache_control = "no-store";
    reply->body = text(json + "]}");
  } else if (path == "/board.png") {
    serve_png(v, reply);
  } else if (path == "/board.easel") {
    Snapshot s = snapshot(v);
    reply->content_type = "application/octet-stream";
    reply->etag = version_tag(s.epoch, s.length);
    reply->cache_control = "no-cache";
    reply->ranges = true;
    reply->file = s.file;
    reply->file_length = s.file ? s.length : 0;
    if (!s.file) reply->body = text("");
  } else if (path == "/metrics") {
    reply->content_type = "text/plain; version=0.0.4";
    reply->body = text(metrics_text(v->metrics));
  } else if (path != "/" && !serve_file(v, path, reply)) {
    reply->status = 404;
    reply->body = text("There is nothing here.\n");
  }
}

}  // namespace

HttpView* http_view_start(const ServerOptions* options, const ServerMetrics* metrics,
                          WebBridge* bridge) {
  HttpView* v = new HttpView;
  v->metrics = metrics;
  v->web_root = options->web_root.empty() ? web_root_default() : options->web_root;
  WebFile index;
  if (v->web_root.empty())
    server_log("no page files found: / shows the read-only view");
  else if (!web_file_open(v->web_root, "/", &index))
    server_log("page files from %s, which has no index.html: / shows the read-only view",
               v->web_root.c_str());
  else
    server_log("page files from %s", v->web_root.c_str());
  v->web = web_server_start(options->bind_address, options->http_port, options,
                            [v](const WebRequest& request, WebReply* reply) { route(v, request, reply); },
                            bridge);
  if (!v->web) {
    delete v;
    return nullptr;
  }
  v->painter = std::thread(paint_loop, v);
  return v;
}

int http_view_port(const HttpView* v) { return web_server_port(v->web); }

void http_view_stop(HttpView* v) {
  if (!v) return;
  web_server_stop(v->web);
  {
    std::lock_guard<std::mutex> hold(v->picture_lock);
    v->stopping = true;
    v->picture_changed.notify_all();
  }
  v->painter.join();
  delete v;
}

void http_view_board(HttpView* v, const std::shared_ptr<BoardFile>& file, size_t length,
                     size_t commands) {
  if (file == v->given_file && length == v->given_length) return;
  bool new_board = file != v->given_file;
  v->given_file = file;
  v->given_length = length;
  std::lock_guard<std::mutex> hold(v->feed_lock);
  if (new_board && v->file) v->epoch++;
  v->file = file;
  v->length = length;
  v->commands = commands;
}

void http_view_users(HttpView* v, std::vector<std::string> names) {
  std::shared_ptr<const std::vector<std::string>> fresh =
      std::make_shared<const std::vector<std::string>>(std::move(names));
  std::lock_guard<std::mutex> hold(v->feed_lock);
  v->users.swap(fresh);
}
