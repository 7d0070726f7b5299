// easel-render BOARD OUT [--background paper|white|FILE.bmp]
//
// Draws a board file (wire frames one after another, exactly as they travel)
// onto the empty picture and writes it as PNG or BMP, chosen by OUT's extension.
// No display is needed. The paper background is always the generated texture,
// even when a "bg.bmp" lies in the working directory.
#include <allegro.h>
#include <fcntl.h>
#include <png.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "net/command.h"
#include "net/message.h"
#include "paint/canvas.h"

namespace {

constexpr int STATUS_OK = 0;
constexpr int STATUS_FAILED = 2;

enum class Format { PNG, BMP };

void usage() {
  fprintf(stderr,
          "usage: easel-render BOARD OUT [--background paper|white|FILE.bmp]\n"
          "  BOARD  board file: protocol frames one after another\n"
          "  OUT    picture to write, .png or .bmp\n");
}

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

// The generated paper, made in an empty directory so that no "bg.bmp" of the
// working directory can take its place.
bool reset_to_paper(BITMAP* canvas) {
  int here = open(".", O_RDONLY | O_DIRECTORY);
  char dir[] = "/tmp/easel-render-XXXXXX";
  if (here < 0 || !mkdtemp(dir)) {
    if (here >= 0) close(here);
    return false;
  }
  bool ok = chdir(dir) == 0;
  if (ok) resetCanvas(canvas);
  ok = fchdir(here) == 0 && ok;
  close(here);
  rmdir(dir);
  return ok;
}

bool load_background(BITMAP* canvas, const char* path) {
  BITMAP* picture = load_bitmap(path, nullptr);
  if (!picture) return false;
  // As the client does with its background picture: copied at the top left, clipped.
  clear_to_color(canvas, makecol32(0, 0, 0));
  blit(picture, canvas, 0, 0, 0, 0, picture->w, picture->h);
  destroy_bitmap(picture);
  return true;
}

// Writes 8-bit RGB rows; libpng reports errors by long jump, so nothing here
// owns anything that needs destruction.
bool write_png(BITMAP* canvas, const char* path) {
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  png_bytep row = static_cast<png_bytep>(malloc(size_t(canvas->w) * 3));
  bool ok = png && info && row;
  if (ok && setjmp(png_jmpbuf(png))) ok = false;
  else if (ok) {
    png_init_io(png, f);
    png_set_IHDR(png, info, canvas->w, canvas->h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < canvas->h; ++y) {
      const uint32_t* line = reinterpret_cast<const uint32_t*>(canvas->line[y]);
      for (int x = 0; x < canvas->w; ++x) {
        row[3 * x] = png_byte(getr32(int(line[x])));
        row[3 * x + 1] = png_byte(getg32(int(line[x])));
        row[3 * x + 2] = png_byte(getb32(int(line[x])));
      }
      png_write_row(png, row);
    }
    png_write_end(png, nullptr);
  }
  free(row);
  if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  return fclose(f) == 0 && ok;
}

// Applies every complete frame in order; returns the number drawn and reports
// a truncated tail on standard error.
long apply_board(BITMAP* canvas, const std::vector<uint8_t>& board, const char* name) {
  size_t at = 0;
  long frames = 0;
  while (at < board.size()) {
    size_t size = frame_complete_size(board.data() + at, board.size() - at);
    if (size == 0) {
      fprintf(stderr,
              "easel-render: %s: truncated frame at byte %zu (%zu of its bytes present); "
              "drew the %ld frames before it\n",
              name, at, board.size() - at, frames);
      break;
    }
    Message m;
    if (!message_from_frame(&m, board.data() + at)) {
      fprintf(stderr, "easel-render: out of memory at frame %ld\n", frames);
      break;
    }
    apply_command(canvas, &m);
    message_free(&m);
    at += size;
    ++frames;
  }
  return frames;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::string background = "paper";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--background") {
      if (i + 1 >= argc) {
        fprintf(stderr, "easel-render: --background needs a value\n");
        usage();
        return STATUS_FAILED;
      }
      background = argv[++i];
    } else if (arg.rfind("--background=", 0) == 0) {
      background = arg.substr(strlen("--background="));
    } else if (arg == "-h" || arg == "--help") {
      usage();
      return STATUS_OK;
    } else if (arg.size() > 1 && arg[0] == '-') {
      fprintf(stderr, "easel-render: unknown option %s\n", arg.c_str());
      usage();
      return STATUS_FAILED;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) {
    usage();
    return STATUS_FAILED;
  }
  const std::string& board_path = positional[0];
  const std::string& out_path = positional[1];
  Format format;
  if (ends_with_ignoring_case(out_path, ".png")) {
    format = Format::PNG;
  } else if (ends_with_ignoring_case(out_path, ".bmp")) {
    format = Format::BMP;
  } else {
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

  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
    fprintf(stderr, "easel-render: cannot start the graphics library\n");
    return STATUS_FAILED;
  }
  set_color_depth(32);
  BITMAP* canvas = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  if (!canvas) {
    fprintf(stderr, "easel-render: out of memory\n");
    return STATUS_FAILED;
  }
  bool ready = true;
  if (paper) {
    ready = reset_to_paper(canvas);
    if (!ready) fprintf(stderr, "easel-render: cannot make a temporary directory for the paper\n");
  } else if (white) {
    clear_to_color(canvas, makecol32(255, 255, 255));
  } else {
    ready = load_background(canvas, background.c_str());
    if (!ready) fprintf(stderr, "easel-render: cannot load the picture %s\n", background.c_str());
  }
  if (!ready) {
    destroy_bitmap(canvas);
    return STATUS_FAILED;
  }

  apply_board(canvas, board, board_path.c_str());

  bool written = format == Format::PNG ? write_png(canvas, out_path.c_str())
                                       : save_bitmap(out_path.c_str(), canvas, nullptr) == 0;
  destroy_bitmap(canvas);
  if (!written) {
    fprintf(stderr, "easel-render: cannot write %s\n", out_path.c_str());
    return STATUS_FAILED;
  }
  return STATUS_OK;
}
END_OF_MAIN()
