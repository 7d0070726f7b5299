#include "net/draw_cost.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "net/drawing_tools.h"
#include "net/message.h"
#include "paint/stroke_walk.h"

namespace {

// Each tool's row (net/drawing_tools.cpp) holds microseconds of one core per
// sample, measured at three sizes (the outer two are where the renderer clamps
// the size) and taken as linear in between, and its sample spacing. The sample counts are those of the drawn path, so
// samples that fall off the picture are charged like those that land on it
// (they cost less), and the smudge is charged at its largest strength.
// Measured as CPU time on the 2-core build machine (RelWithDebInfo, under load)
// with a 64-point zigzag over the picture:
//   build/bench/easel_bench --benchmark_filter=DrawCost
// which reports the CPU time over this estimate ("cpu/est") for each tool at
// three sizes and for the 255-point zigzags of
//   build/bench/easel_bench --benchmark_filter=worst
// (0.5 to 0.85 on the picture, lower beyond it). MARGIN covers the noise.
//
// Up to strength 6 the smudge changes nothing and only walks.
constexpr double SMUDGE_STRENGTH_IDLE = 6;
// The stamp's spacing is 2 * size * (1 + 0.09 * gap).
// The brush walks every 1.5 pixels; each of its 3.1 * size + 1 bristles costs
// BRISTLE a sample until it dries out, after at most about
// BRISTLE_LIFE * (1 + dryness) samples (a load of at most 0.8 losing
// 0.15 / (1 + dryness) a sample on average).
constexpr double BRISTLE = 0.33;
constexpr double BRISTLE_LIFE = 6.0;
// Decoding, the roster update and setting up a stroke; starting each segment.
constexpr double PER_COMMAND = 2.0;
constexpr double PER_POINT = 0.5;
constexpr double MARGIN = 1.25;

double clamped(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

double clamped_size(const ToolCost& t, double size) { return clamped(size, t.size[0], t.size[2]); }

double per_sample(const ToolCost& t, double size) {
  double s = clamped_size(t, size);
  int k = s <= t.size[1] ? 0 : 1;
  double f = (s - t.size[k]) / (t.size[k + 1] - t.size[k]);
  return t.us[k] + f * (t.us[k + 1] - t.us[k]);
}

double distance(double ax, double ay, double bx, double by) {
  return std::sqrt((bx - ax) * (bx - ax) + (by - ay) * (by - ay));
}

// Length of the control polygon of the curve the walk follows through segment
// i: never shorter than the curve itself.
double segment_length(const int16_t* xs, const int16_t* ys, int n, int i) {
  double chord = distance(xs[i], ys[i], xs[i + 1], ys[i + 1]);
  if (n < 3) return chord;
  int before = i == 0 ? 0 : i - 1, after = i == n - 2 ? i + 1 : i + 2;
  double t0x = xs[i + 1] - xs[before], t0y = ys[i + 1] - ys[before];
  double t1x = xs[i] - xs[after], t1y = ys[i] - ys[after];
  double len0 = std::hypot(t0x, t0y), len1 = std::hypot(t1x, t1y);
  if (len0 < 0.001 || len1 < 0.001) return chord;
  // Both tangents are cut to the shorter one.
  double k0 = std::min(1.0, len1 / len0), k1 = std::min(1.0, len0 / len1);
  double c1x = xs[i] + 0.25 * k0 * t0x, c1y = ys[i] + 0.25 * k0 * t0y;
  double c2x = xs[i + 1] + 0.25 * k1 * t1x, c2y = ys[i + 1] + 0.25 * k1 * t1y;
  return distance(xs[i], ys[i], c1x, c1y) + distance(c1x, c1y, c2x, c2y) +
         distance(c2x, c2y, xs[i + 1], ys[i + 1]);
}

// Reads past fields; a short payload just runs out.
void skip(Message* m, int bytes) {
  while (bytes-- > 0) message_get_byte(m);
}

}  // namespace

double draw_cost_samples(const int16_t* xs, const int16_t* ys, int n, double spacing) {
  if (n <= 1) return n;
  double samples = 0;
  for (int i = 0; i + 1 < n; ++i)
    samples += std::min(double(STROKE_SAMPLES_MAX), std::floor(segment_length(xs, ys, n, i) / spacing) + 1);
  return samples;
}

double draw_cost(int type, const uint8_t* payload, size_t length) {
  Message m = {uint32_t(type), const_cast<uint8_t*>(payload), const_cast<uint8_t*>(payload),
               const_cast<uint8_t*>(payload) + length, const_cast<uint8_t*>(payload) + length};
  const DrawingTool* row = drawing_tool_of_type(type);
  if (!row) return 0;
  const CommandLayout* layout = &row->layout;
  const ToolCost* tool = &row->cost;
  // The author's id, the seed and the colour, then the size and the second value.
  skip(&m, command_fixed_size(*layout) - 2 * layout->values);
  double size = layout->values >= 1 ? message_get_scaled(&m) : 0;
  double second = layout->values >= 2 ? message_get_scaled(&m) : 0;
  int n = int(m.end - m.read_pos) / 4;
  std::vector<int16_t> xs(static_cast<size_t>(n)), ys(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    xs[i] = int16_t(message_get_short(&m));
    ys[i] = int16_t(message_get_short(&m));
  }
  double spacing = tool->spacing;
  if (type == MSG_STAMP) spacing = 2 * clamped_size(*tool, size) * (clamped(second, 0, 100) * 0.09 + 1);
  double samples = draw_cost_samples(xs.data(), ys.data(), n, spacing);
  double cost = PER_POINT * n + samples * per_sample(*tool, size);
  if (type == MSG_SMUDGE && second <= SMUDGE_STRENGTH_IDLE)
    cost = PER_POINT * n + samples * drawing_tool_of_type(MSG_PEN)->cost.us[0];
  if (type == MSG_BRUSH) {
    double bristles = 3.1 * clamped_size(*tool, size) + 1;
    cost += BRISTLE * bristles * std::min(samples, BRISTLE_LIFE * (1 + clamped(second, 1, 500)));
  }
  return PER_COMMAND + MARGIN * cost;
}
