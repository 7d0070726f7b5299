// easel-render BOARD OUT [--background paper|white|FILE.bmp]
// easel-render BOARD VIDEO --timelapse [--seconds S] [--fps N] [--lossless]
//
// Draws a board file (wire frames one after another, exactly as they travel)
// onto the empty picture and writes it as PNG or BMP, chosen by OUT's extension,
// or pipes the picture growing to ffmpeg as a video.
// No display is needed. The paper background is always the generated texture,
// even when a "bg.bmp" lies in the working directory.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "net/command_run.h"
#include "net/message.h"
#include "paint/bmp_file.h"
#include "paint/canvas.h"
#include "paint/pixel.h"
#include "paint/png_write.h"

namespace {

constexpr int STATUS_OK = 0;
constexpr int STATUS_FAILED = 2;

enum class Format { PNG, BMP };

bool ends_with_ignoring_case(const std::string& s, const char* suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

bool read_file(const char* path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

bool load_background(Image* canvas, const char* path) {
  Image picture;
  if (!bmp_load(&picture, path)) return false;
  // As the client does with its background picture: copied at the top left, clipped.
  image_fill(canvas, pack_pixel(0, 0, 0));
  image_copy_all(&picture, canvas);
  image_destroy(&picture);
  return true;
}

bool write_png(const Image* canvas, const char* path) {
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  bool ok = png_write(canvas, f);
  return fclose(f) == 0 && ok;
}

// The end of every complete frame, in order; a truncated tail is reported on
// standard error.
std::vector<size_t> frame_ends(const std::vector<uint8_t>& board, const char* name) {
  std::vector<size_t> ends;
  size_t at = 0;
  while (at < board.size()) {
    size_t size = frame_complete_size(board.data() + at, board.size() - at);
    if (size == 0) {
      fprintf(stderr,
              "easel-render: %s: truncated frame at byte %zu (%zu of its bytes present); "
              "drew the %zu frames before it\n",
              name, at, board.size() - at, ends.size());
      break;
    }
    at += size;
    ends.push_back(at);
  }
  return ends;
}

// Applies the frames between two offsets of the board in order.
bool apply_board_frames(Image* canvas, const std::vector<uint8_t>& board, size_t from,
                        size_t to) {
  size_t drawn = from + apply_frames(canvas, board.data() + from, to - from);
  if (drawn == to) return true;
  fprintf(stderr, "easel-render: out of memory at byte %zu\n", drawn);
  return false;
}

struct Timelapse {
  double seconds = 20;
  int fps = 30;
  bool lossless = false;
};

bool program_on_path(const char* name) {
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "";
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = (end > at ? dirs.substr(at, end - at) : ".") + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

// Starts ffmpeg reading raw frames of the canvas from a pipe; returns the pipe.
FILE* start_ffmpeg(const Timelapse& t, const std::string& out, pid_t* pid) {
  std::string size = std::to_string(CANVAS_WIDTH) + "x" + std::to_string(CANVAS_HEIGHT);
  std::string rate = std::to_string(t.fps);
  // The canvas's 32-bit pixels as they lie in memory: 0x00RRGGBB, little-endian.
  static_assert(PIXEL_BLUE_SHIFT == 0 && PIXEL_GREEN_SHIFT == 8 && PIXEL_RED_SHIFT == 16, "bgr0 in memory");
  std::vector<const char*> args = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f",
                                   "rawvideo", "-pix_fmt", "bgr0", "-s", size.c_str(), "-r",
                                   rate.c_str(), "-i", "-"};
  if (t.lossless)
    args.insert(args.end(), {"-c:v", "libx264rgb", "-qp", "0", "-preset", "ultrafast"});
  else
    args.insert(args.end(), {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", "20"});
  args.push_back(out.c_str());
  args.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return nullptr;
  *pid = fork();
  if (*pid == 0) {
    dup2(fds[0], 0);
    close(fds[0]);
    close(fds[1]);
    execvp("ffmpeg", const_cast<char* const*>(args.data()));
    _exit(127);
  }
  close(fds[0]);
  if (*pid < 0) {
    close(fds[1]);
    return nullptr;
  }
  return fdopen(fds[1], "wb");
}

void show_progress(int done, int total) {
  char bar[41];
  int filled = int(40L * done / total);
  for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
  bar[40] = 0;
  fprintf(stderr, "\r[%s] %3d%% frame %d of %d", bar, int(100L * done / total), done, total);
  if (done == total) fputc('\n', stderr);
}

// Frames spaced evenly by command count, the last second holding the
// finished picture.
int write_timelapse(Image* canvas, const std::vector<uint8_t>& board, const char* name,
                    const Timelapse& t, const std::string& out) {
  if (!program_on_path("ffmpeg")) {
    fprintf(stderr,
            "easel-render: the timelapse needs the program ffmpeg, which is not installed "
            "(Debian: apt-get install ffmpeg)\n");
    return STATUS_FAILED;
  }
  std::vector<size_t> ends = frame_ends(board, name);
  int total = std::max(1, int(std::lround(t.seconds * t.fps)));
  int growing = std::max(1, total - t.fps);
  signal(SIGPIPE, SIG_IGN);
  pid_t pid = -1;
  FILE* pipe = start_ffmpeg(t, out, &pid);
  if (!pipe) {
    fprintf(stderr, "easel-render: cannot start ffmpeg: %s\n", strerror(errno));
    return STATUS_FAILED;
  }
  bool progress = isatty(2);
  bool ok = true;
  size_t drawn = 0, at = 0;
  for (int frame = 0; frame < total && ok; ++frame) {
    size_t target = frame < growing ? size_t(double(frame + 1) * double(ends.size()) / growing)
                                    : ends.size();
    if (target > drawn) {
      ok = apply_board_frames(canvas, board, at, ends[target - 1]);
      at = ends[target - 1];
      drawn = target;
    }
    for (int y = 0; y < canvas->h && ok; ++y)
      ok = fwrite(image_row(canvas, y), 4, size_t(canvas->w), pipe) == size_t(canvas->w);
    if (progress) show_progress(frame + 1, total);
  }
  ok = fclose(pipe) == 0 && ok;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "easel-render: ffmpeg could not write %s\n", out.c_str());
    return STATUS_FAILED;
  }
  return STATUS_OK;
}

bool parse_number(const char* text, double low, double high, double* out) {
  char* end = nullptr;
  double value = strtod(text, &end);
  if (end == text || *end || !(value >= low && value <= high)) return false;
  *out = value;
  return true;
}

}  // namespace

// What the command line asks for.
struct RenderOptions {
  std::vector<std::string> positional;
  std::string background = "paper";
  bool timelapse = false;
  Timelapse t;
};

// The options; the help, and after a mistake its usage lines, are written by CLI11.
int parse_options(RenderOptions* o, int argc, char** argv, int* status) {
  CLI::App app(
      "Usage: easel-render BOARD OUT [--background paper|white|FILE.bmp]\n"
      "  or:  easel-render BOARD VIDEO --timelapse [--seconds 20] [--fps 30] [--lossless]\n"
      "  BOARD  board file: protocol frames one after another\n"
      "  OUT    picture to write, .png or .bmp\n"
      "  VIDEO  video of the board growing, written by ffmpeg (e.g. .mp4); frames are\n"
      "         spaced by command count and the last second holds the finished picture\n",
      "easel-render");
  app.formatter(std::make_shared<HelpLayout>(0));
  app.option_defaults()->group("");
  app.add_option("files", o->positional);
  app.add_option("--background", o->background);
  app.add_flag("--timelapse", o->timelapse);
  app.add_flag("--lossless", o->t.lossless);
  auto number = [&](const std::string& name, double low, double high, bool whole, std::function<void(double)> set) {
    app.add_option_function<std::string>(name, [=](const std::string& text) {
         double value = 0;
         if (!parse_number(text.c_str(), low, high, &value) || (whole && value != std::floor(value)))
           throw CLI::ValidationError(name + " needs a number in range");
         set(value);
       })
        ->trigger_on_parse();
  };
  number("--seconds", 0.1, 36000, false, [o](double v) { o->t.seconds = v; });
  number("--fps", 1, 240, true, [o](double v) { o->t.fps = int(v); });
  add_help_flag(&app);
  const std::string usage = app.help();
  auto report = [&](CommandLineMistake mistake, const std::string& text) {
    if (mistake == UNKNOWN_OPTION)
      fprintf(stderr, "easel-render: unknown option %s\n%s", text.c_str(), usage.c_str());
    else if (mistake == MISSING_VALUE)
      fprintf(stderr, "easel-render: %s needs a value\n%s", text.c_str(), usage.c_str());
    else
      fprintf(stderr, "easel-render: %s\n", text.c_str());
  };
  if (!command_line_parse(&app, argc, argv, status, report)) return 0;
  if (o->positional.size() == 2) return 1;
  fputs(usage.c_str(), stderr);
  *status = STATUS_FAILED;
  return 0;
}

int main(int argc, char** argv) {
  RenderOptions o;
  int status = STATUS_OK;
  if (!parse_options(&o, argc, argv, &status)) return status;
  const std::vector<std::string>& positional = o.positional;
  const std::string& background = o.background;
  const bool timelapse = o.timelapse;
  const Timelapse& t = o.t;
  const std::string& board_path = positional[0];
  const std::string& out_path = positional[1];
  Format format = Format::PNG;
  if (ends_with_ignoring_case(out_path, ".bmp")) {
    format = Format::BMP;
  } else if (!timelapse && !ends_with_ignoring_case(out_path, ".png")) {
    fprintf(stderr, "easel-render: %s: the output must end in .png or .bmp\n", out_path.c_str());
    return STATUS_FAILED;
  }
  bool paper = background == "paper", white = background == "white";
  if (!paper && !white && !ends_with_ignoring_case(background, ".bmp")) {
    fprintf(stderr, "easel-render: unknown background %s (paper, white or a .bmp file)\n",
            background.c_str());
    return STATUS_FAILED;
  }

  std::vector<uint8_t> board;
  if (!read_file(board_path.c_str(), &board)) {
    fprintf(stderr, "easel-render: cannot read %s: %s\n", board_path.c_str(), strerror(errno));
    return STATUS_FAILED;
  }

  Image canvas;
  if (!image_create(&canvas, CANVAS_WIDTH, CANVAS_HEIGHT)) {
    fprintf(stderr, "easel-render: out of memory\n");
    return STATUS_FAILED;
  }
  bool ready = true;
  if (paper) {
    paintPaper(&canvas);
  } else if (white) {
    image_fill(&canvas, pack_pixel(255, 255, 255));
  } else {
    ready = load_background(&canvas, background.c_str());
    if (!ready) fprintf(stderr, "easel-render: cannot load the picture %s\n", background.c_str());
  }
  if (!ready) {
    image_destroy(&canvas);
    return STATUS_FAILED;
  }
  if (timelapse) {
    int status = write_timelapse(&canvas, board, board_path.c_str(), t, out_path);
    image_destroy(&canvas);
    return status;
  }

  std::vector<size_t> ends = frame_ends(board, board_path.c_str());
  apply_board_frames(&canvas, board, 0, ends.empty() ? 0 : ends.back());

  bool written = format == Format::PNG ? write_png(&canvas, out_path.c_str()) : bmp_save(&canvas, out_path.c_str());
  image_destroy(&canvas);
  if (!written) {
    fprintf(stderr, "easel-render: cannot write %s\n", out_path.c_str());
    return STATUS_FAILED;
  }
  return STATUS_OK;
}
