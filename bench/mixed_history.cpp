#include "mixed_history.h"

#include <cstdint>
#include <random>

#include "net/command.h"
#include "paint/canvas.h"

namespace {

constexpr uint32_t TOOLS[] = {MSG_PEN, MSG_PENCIL, MSG_BRUSH, MSG_CHALK, MSG_SMUDGE, MSG_STAMP};

// Draws from the generator in [low, high) and in [low, high] as GNU's standard
// library forms them: the standard fixes the generator's outputs but leaves
// the distributions to each library.
float uniform_float(std::mt19937& rng, float low, float high) {
  float u = static_cast<float>(static_cast<uint32_t>(rng())) / 4294967296.0f;
  if (u >= 1.0f) u = 0x1.fffffep-1f;
  return u * (high - low) + low;
}

int uniform_int(std::mt19937& rng, int low, int high) {
  const uint32_t range = static_cast<uint32_t>(high - low) + 1;
  uint64_t product = uint64_t{static_cast<uint32_t>(rng())} * range;
  if (static_cast<uint32_t>(product) < range) {
    const uint32_t threshold = (0u - range) % range;
    while (static_cast<uint32_t>(product) < threshold) product = uint64_t{static_cast<uint32_t>(rng())} * range;
  }
  return static_cast<int>(product >> 32) + low;
}

// A hand-like path: a random walk with momentum, kept on the canvas.
void make_path(std::mt19937& rng, int n, std::vector<int16_t>* xs, std::vector<int16_t>* ys) {
  auto u = [&rng] { return uniform_float(rng, 0.0f, 1.0f); };
  float x = 20 + u() * (CANVAS_WIDTH - 40), y = 20 + u() * (CANVAS_HEIGHT - 40);
  float dx = u() * 8 - 4, dy = u() * 8 - 4;
  xs->clear();
  ys->clear();
  for (int i = 0; i < n; ++i) {
    dx = dx * 0.9f + (u() - 0.5f) * 3;
    dy = dy * 0.9f + (u() - 0.5f) * 3;
    x += dx;
    y += dy;
    if (x < 0 || x >= CANVAS_WIDTH) dx = -dx, x += 2 * dx;
    if (y < 0 || y >= CANVAS_HEIGHT) dy = -dy, y += 2 * dy;
    xs->push_back(int16_t(x));
    ys->push_back(int16_t(y));
  }
}

Message make_stroke(std::mt19937& rng, uint32_t tool) {
  std::vector<int16_t> xs, ys;
  make_path(rng, uniform_int(rng, 30, 255), &xs, &ys);
  float r = uniform_float(rng, 0, 255), g = uniform_float(rng, 0, 255), b = uniform_float(rng, 0, 255);
  const int16_t *x = xs.data(), *y = ys.data();
  unsigned n = unsigned(xs.size());
  Message m;
  message_init(&m, tool);
  switch (tool) {
    case MSG_PEN: encode_pen(&m, 0, r, g, b, x, y, n); break;
    case MSG_PENCIL: encode_pencil(&m, 0, r, g, b, uniform_float(rng, 1.5f, 8), x, y, n); break;
    // The second value drawn first, as the history was first made.
    case MSG_BRUSH: {
      const float dryness = uniform_float(rng, 1, 500);
      encode_brush(&m, 0, r, g, b, uniform_float(rng, 1.7f, 12), dryness, x, y, n);
      break;
    }
    case MSG_CHALK: encode_chalk(&m, 0, r, g, b, uniform_float(rng, 1.5f, 12), x, y, n); break;
    case MSG_SMUDGE: {
      const float strength = uniform_float(rng, 1, 1000);
      encode_smudge(&m, 0, uniform_float(rng, 1.7f, 12), strength, x, y, n);
      break;
    }
    case MSG_STAMP: {
      const float gap = uniform_float(rng, 0, 100);
      encode_stamp(&m, 0, r, g, b, uniform_float(rng, 1.5f, 8), gap, x, y, n);
      break;
    }
  }
  return m;
}

}  // namespace

void make_mixed_history(std::vector<Message>* strokes) {
  std::mt19937 rng(20261206);
  for (int i = 0; i < MIXED_HISTORY_STROKES; ++i) strokes->push_back(make_stroke(rng, TOOLS[i % 6]));
}
