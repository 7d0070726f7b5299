#include "http_view.h"

#include <httplib.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "board_painter.h"
#include "metrics.h"
#include "net/message.h"
#include "server_log.h"

namespace {

constexpr size_t BLOCK = 1 << 20;
// The picture is kept up to date this long after the last request for it.
constexpr double INTEREST_SECONDS = 30;
constexpr size_t WORKERS = 4;
constexpr size_t MAX_CONNECTIONS = 32;  // open at once; the listener waits beyond that
constexpr int TIMEOUT_SECONDS = 5;      // reading a request, writing a response, keep-alive
constexpr auto PICTURE_WAIT = std::chrono::seconds(30);  // the painter may be starved of CPU

// The board since the last restart. One writer (the relay loop) appends;
// bytes below `published` never change and blocks never move, and readers
// find the blocks without taking any lock: a reader that is descheduled can
// never hold up the relay loop.
constexpr size_t MAX_BLOCKS = 1 << 14;  // 16 GiB; beyond that the view stops following

struct BoardBytes {
  std::unique_ptr<std::atomic<uint8_t*>[]> blocks{new std::atomic<uint8_t*>[MAX_BLOCKS]()};
  size_t length = 0;  // the writer's
  size_t staged_commands = 0;
  std::atomic<size_t> published{0};
  std::atomic<size_t> commands{0};
  ~BoardBytes() {
    for (size_t i = 0; i < MAX_BLOCKS && blocks[i]; i++) delete[] blocks[i].load();
  }
};

bool bytes_append(BoardBytes* b, const uint8_t* data, size_t n) {
  if (b->length + n > MAX_BLOCKS * BLOCK) return false;
  while (n > 0) {
    size_t index = b->length / BLOCK, offset = b->length % BLOCK;
    if (!b->blocks[index].load(std::memory_order_relaxed))
      b->blocks[index].store(new uint8_t[BLOCK], std::memory_order_release);
    size_t take = std::min(n, BLOCK - offset);
    memcpy(b->blocks[index].load(std::memory_order_relaxed) + offset, data, take);
    b->length += take;
    data += take;
    n -= take;
  }
  return true;
}

std::string bytes_copy(BoardBytes* b, size_t from, size_t to) {
  std::string out;
  out.reserve(to - from);
  for (size_t at = from; at < to;) {
    size_t offset = at % BLOCK, take = std::min(to - at, BLOCK - offset);
    const uint8_t* block = b->blocks[at / BLOCK].load(std::memory_order_acquire);
    out.append(reinterpret_cast<const char*>(block) + offset, take);
    at += take;
  }
  return out;
}

// Hands the listener's connections to a few workers, and makes the listener
// wait while too many are open, so web clients cost a bounded amount.
class BoundedPool : public httplib::TaskQueue {
 public:
  BoundedPool() : pool_(WORKERS) {}
  void enqueue(std::function<void()> fn) override {
    std::unique_lock<std::mutex> hold(lock_);
    room_.wait(hold, [this] { return open_ < MAX_CONNECTIONS || closed_; });
    open_++;
    hold.unlock();
    pool_.enqueue([this, fn] {
      fn();
      std::lock_guard<std::mutex> done(lock_);
      open_--;
      room_.notify_one();
    });
  }
  void shutdown() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      closed_ = true;
    }
    room_.notify_all();
    pool_.shutdown();
  }

 private:
  httplib::ThreadPool pool_;
  std::mutex lock_;
  std::condition_variable room_;
  size_t open_ = 0;
  bool closed_ = false;
};

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
let shown = '', loading = '';
async function poll() {
  try {
    const s = await (await fetch('/status', {cache: 'no-store'})).json();
    document.getElementById('strokes').textContent = s.strokes;
    document.getElementById('users').textContent =
        s.users.length ? s.users.join(', ') : 'nobody is painting';
    if (s.version !== shown && s.version !== loading) {
      loading = s.version;
      const img = new Image();
      img.onload = () => { document.getElementById('pic').src = img.src; shown = s.version; };
      img.onerror = () => { loading = ''; };
      img.src = '/board.png?v=' + s.version;
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
  httplib::Server http;
  int port = 0;
  std::thread listener, painter;
  std::shared_ptr<BoardBytes> writing;  // the relay loop's

  std::mutex feed_lock;  // held for pointer and list copies only
  std::shared_ptr<BoardBytes> board;
  uint64_t epoch = 0;
  std::shared_ptr<const std::vector<std::string>> users =
      std::make_shared<const std::vector<std::string>>();

  std::mutex picture_lock;
  std::condition_variable picture_changed;
  std::shared_ptr<const std::string> png;
  uint64_t png_epoch = 0;
  size_t png_length = 0;
  double interest_until = 0;
  bool png_wanted = false;  // a request waits for the picture of the newest board
  bool stopping = false;
  bool painter_failed = false;
};

namespace {

struct Snapshot {
  std::shared_ptr<BoardBytes> board;
  uint64_t epoch = 0;
  size_t length = 0;
  std::shared_ptr<const std::vector<std::string>> users;
};

Snapshot snapshot(HttpView* v) {
  Snapshot s;
  {
    std::lock_guard<std::mutex> hold(v->feed_lock);  // pointer copies only
    s.board = v->board;
    s.epoch = v->epoch;
    s.users = v->users;
  }
  s.length = s.board->published.load(std::memory_order_acquire);
  return s;
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

// Draws only while someone looks: new commands are applied in order, a new
// epoch starts from the paper, and a picture is encoded when one is asked for.
// It runs at the lowest priority: the relay loop comes first for the CPU.
void paint_loop(HttpView* v) {
  setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 19);
  BoardPainter* p = painter_create();
  std::unique_lock<std::mutex> hold(v->picture_lock);
  if (!p) {
    server_log("error: the web view cannot draw the board");
    v->painter_failed = true;
    v->picture_changed.notify_all();
    return;
  }
  uint64_t epoch = 0, encoded_epoch = 0;
  size_t drawn = 0, encoded_length = SIZE_MAX;
  while (!v->stopping) {
    bool wanted = v->png_wanted;
    v->png_wanted = false;
    if (wanted || now_seconds() <= v->interest_until) {
      hold.unlock();
      Snapshot s = snapshot(v);
      if (s.epoch != epoch) {
        painter_reset(p);
        epoch = s.epoch;
        drawn = 0;
      }
      if (s.length > drawn) {
        std::string bytes = bytes_copy(s.board.get(), drawn, s.length);
        drawn += painter_apply(p, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      }
      std::shared_ptr<std::string> png;
      if (wanted && (epoch != encoded_epoch || drawn != encoded_length)) {
        png = std::make_shared<std::string>();
        if (!painter_png(p, png.get())) png.reset();
        encoded_epoch = epoch;
        encoded_length = drawn;
      }
      hold.lock();
      if (png) {
        v->png = png;
        v->png_epoch = epoch;
        v->png_length = drawn;
      }
      if (wanted) v->picture_changed.notify_all();
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

void serve_png(HttpView* v, const httplib::Request& req, httplib::Response& res) {
  Snapshot s = snapshot(v);
  want_picture(v);
  std::string tag = version_tag(s.epoch, s.length);
  res.set_header("Cache-Control", "no-cache");
  if (req.get_header_value("If-None-Match") == tag) {
    res.status = 304;
    res.set_header("ETag", tag);
    return;
  }
  std::unique_lock<std::mutex> hold(v->picture_lock);
  v->png_wanted = true;
  v->picture_changed.notify_all();
  bool ready = v->picture_changed.wait_for(hold, PICTURE_WAIT, [&] {
    return v->stopping || v->painter_failed ||
           (v->png && (v->png_epoch > s.epoch ||
                       (v->png_epoch == s.epoch && v->png_length >= s.length)));
  });
  if (!ready || !v->png || v->painter_failed || v->stopping) {
    res.status = 503;
    res.set_content("The picture is not ready.\n", "text/plain");
    return;
  }
  std::shared_ptr<const std::string> png = v->png;
  tag = version_tag(v->png_epoch, v->png_length);
  hold.unlock();
  res.set_header("ETag", tag);
  res.set_content(*png, "image/png");
}

void add_routes(HttpView* v) {
  httplib::Server& h = v->http;
  h.Get("/", [v](const httplib::Request&, httplib::Response& res) {
    want_picture(v);
    res.set_content(PAGE, "text/html; charset=utf-8");
  });
  h.Get("/status", [v](const httplib::Request&, httplib::Response& res) {
    want_picture(v);
    Snapshot s = snapshot(v);
    std::string json = "{\"version\":" + json_text(version_of(s.epoch, s.length)) +
                       ",\"strokes\":" + std::to_string(s.board->commands.load()) + ",\"users\":[";
    const std::vector<std::string>& users = *s.users;
    for (size_t i = 0; i < users.size(); i++) json += (i ? "," : "") + json_text(users[i]);
    res.set_header("Cache-Control", "no-store");
    res.set_content(json + "]}", "application/json");
  });
  h.Get("/board.png", [v](const httplib::Request& req, httplib::Response& res) {
    serve_png(v, req, res);
  });
  h.Get("/board.easel", [v](const httplib::Request&, httplib::Response& res) {
    Snapshot s = snapshot(v);
    res.set_header("ETag", version_tag(s.epoch, s.length));
    res.set_content(bytes_copy(s.board.get(), 0, s.length), "application/octet-stream");
  });
  h.Get("/metrics", [v](const httplib::Request&, httplib::Response& res) {
    res.set_content(metrics_text(v->metrics), "text/plain; version=0.0.4");
  });
  // Nothing here changes anything.
  auto refuse = [](const httplib::Request&, httplib::Response& res) {
    res.status = 405;
    res.set_header("Allow", "GET, HEAD");
    res.set_content("This server is read-only.\n", "text/plain");
  };
  h.Post(".*", refuse);
  h.Put(".*", refuse);
  h.Patch(".*", refuse);
  h.Delete(".*", refuse);
}

}  // namespace

HttpView* http_view_start(const std::string& address, int port, const std::string& board_path,
                          const ServerMetrics* metrics) {
  HttpView* v = new HttpView;
  v->metrics = metrics;
  v->writing = std::make_shared<BoardBytes>();
  v->board = v->writing;
  std::ifstream file(board_path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  for (size_t at = 0, size; at < bytes.size(); at += size) {
    size = frame_complete_size(bytes.data() + at, bytes.size() - at);
    if (size == 0) break;
    http_view_stage(v, bytes.data() + at, size);
  }
  http_view_commit(v);

  httplib::Server& h = v->http;
  h.new_task_queue = [] { return new BoundedPool; };
  h.set_payload_max_length(1024);
  h.set_read_timeout(TIMEOUT_SECONDS, 0);
  h.set_write_timeout(TIMEOUT_SECONDS, 0);
  h.set_keep_alive_timeout(TIMEOUT_SECONDS);
  h.set_keep_alive_max_count(100);
  add_routes(v);
  std::string host = address.empty() ? "0.0.0.0" : address;
  v->port = port == 0 ? h.bind_to_any_port(host) : (h.bind_to_port(host, port) ? port : -1);
  if (v->port <= 0) {
    server_log("error: the web view cannot listen on %s port %d", host.c_str(), port);
    delete v;
    return nullptr;
  }
  v->listener = std::thread([v] { v->http.listen_after_bind(); });
  v->painter = std::thread(paint_loop, v);
  server_log("web view on http://%s:%d/", host.c_str(), v->port);
  return v;
}

int http_view_port(const HttpView* v) { return v->port; }

void http_view_stop(HttpView* v) {
  if (!v) return;
  {
    std::lock_guard<std::mutex> hold(v->picture_lock);
    v->stopping = true;
    v->picture_changed.notify_all();
  }
  v->http.stop();
  v->listener.join();
  v->painter.join();
  delete v;
}

void http_view_stage(HttpView* v, const uint8_t* frame, size_t length) {
  if (bytes_append(v->writing.get(), frame, length)) v->writing->staged_commands++;
}

void http_view_commit(HttpView* v) {
  BoardBytes* b = v->writing.get();
  if (b->published.load(std::memory_order_relaxed) == b->length) return;
  b->commands.store(b->staged_commands, std::memory_order_relaxed);
  b->published.store(b->length, std::memory_order_release);
}

void http_view_restart(HttpView* v) {
  http_view_commit(v);
  std::shared_ptr<BoardBytes> fresh = std::make_shared<BoardBytes>();
  std::shared_ptr<BoardBytes> old;
  {
    std::lock_guard<std::mutex> hold(v->feed_lock);
    old = v->board;
    v->board = fresh;
    v->epoch++;
  }
  v->writing = fresh;
}

void http_view_users(HttpView* v, std::vector<std::string> names) {
  std::shared_ptr<const std::vector<std::string>> fresh =
      std::make_shared<const std::vector<std::string>>(std::move(names));
  std::lock_guard<std::mutex> hold(v->feed_lock);
  v->users.swap(fresh);
}
