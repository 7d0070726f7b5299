// The random drawings of every tool drawn both ways (random_drawings.h).
#include "random_drawings.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "paint/brush.h"
#include "paint/canvas.h"
#include "paint/chalk.h"
#include "paint/curve_search.h"
#include "paint/disc.h"
#include "paint/engine_paths.h"
#include "paint/pen.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/stamp.h"
#include "paint/stroke_walk.h"
#include "test_images.h"

namespace testsupport {

namespace {

// What a drawing left: the picture, where the command stream stands and its next draw.
struct Drawn {
  uint64_t sum;
  unsigned position;
  uint32_t next;
  bool operator==(const Drawn& o) const { return sum == o.sum && position == o.position && next == o.next; }
};

// draw(image) on a w x h pattern, the command stream seeded with seed and skip
// draws taken, once the reference ways and once the fast ways.
template <class Draw>
std::vector<Drawn> both_ways(int w, int h, uint32_t seed, int skip, const Draw& draw) {
  std::vector<Drawn> got;
  for (EnginePaths paths : {ENGINE_REFERENCE, ENGINE_FAST}) {
    engine_set_paths(paths);
    Image* image = testsupport::make_pattern(w, h);
    random_reset();
    useCommandStream(seed);
    for (int k = 0; k < skip; ++k) nextRandom();
    draw(image);
    const unsigned position = random_position(COMMAND_STREAM);
    got.push_back(Drawn{testsupport::image_checksum(image), position, nextRandom()});
    useLocalStream();
    testsupport::free_image(image);
  }
  engine_paths_reset();
  return got;
}

}  // namespace

std::string random_drawings_differ() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int i = 0; i < 420; ++i) {
    const int tool = i % 6, kind = i / 6 % 7, w = kind == 6 ? 912 : 97 + i % 5, h = kind == 6 ? 684 : 61 + i % 3;
    const float reach[7] = {1, 1.4f, 60, 400, 32767, 1.2f, 2};
    std::uniform_real_distribution<float> at(-reach[kind] * w, (1 + reach[kind]) * w);
    std::vector<int16_t> xs(1 + rng() % (kind == 6 ? 30 : 9)), ys(xs.size());
    for (size_t k = 0; k < xs.size(); ++k) {
      xs[k] = static_cast<int16_t>(std::clamp(at(rng), -32768.0f, 32767.0f));
      ys[k] = static_cast<int16_t>(std::clamp(at(rng) * h / w, -32768.0f, 32767.0f));
      if (kind == 5 && k && rng() % 2) xs[k] = xs[k - 1], ys[k] = ys[k - 1];
    }
    const float size = unit(rng) * 14, value2 = unit(rng) * 1000, c[3] = {unit(rng) * 255, unit(rng) * 255, unit(rng) * 255};
    const int16_t *x = xs.data(), *y = ys.data();
    const int n = static_cast<int>(xs.size());
    const auto got = both_ways(w, h, i + 1, i * 37 % 1000, [&](Image* image) {
      switch (tool) {
        case 0: drawPen(image, c[0], c[1], c[2], x, y, n); break;
        case 1: drawPencil(image, c[0], c[1], c[2], size, x, y, n); break;
        case 2: drawBrush(image, c[0], c[1], c[2], size, value2, x, y, n); break;
        case 3: drawChalk(image, c[0], c[1], c[2], size, x, y, n); break;
        case 4: drawSmudge(image, size, value2, x, y, n); break;
        default: drawStamp(image, c[0], c[1], c[2], size, value2 / 10, x, y, n); break;
      }
    });
    if (!(got[0] == got[1])) return "stroke " + std::to_string(i) + ", tool " + std::to_string(tool) + ", kind " + std::to_string(kind);
  }
  for (int i = 0; i < 3000; ++i) {
    float drag[2] = {unit(rng) * 8 - 4, unit(rng) * 8 - 4}, cx = unit(rng) * 56 - 8, cy = unit(rng) * 46 - 8;
    const float radius = unit(rng) * 13, coverage = unit(rng) * 1.1f, c[3] = {unit(rng) * 255, unit(rng) * 255, unit(rng) * 255};
    if (i % 3 == 0) drag[i % 2] = std::nextafter(std::floor(drag[i % 2]), i % 4 < 2 ? 9.0f : -9.0f);
    if (i % 5 == 0) cx = std::floor(cx), cy = std::floor(cy);
    const auto got = both_ways(40, 30, 1, 0, [&](Image* image) {
      smudgeDisc(image, radius, coverage, cx, cy, drag[0], drag[1]);
      softDisc(image, cx, cy, c[0], c[1], c[2], i % 2 ? 0.5f : coverage, radius);
    });
    if (!(got[0] == got[1])) return "disc " + std::to_string(i);
  }
  const float folded[8] = {1167.79382f, -317.593231f, 2899.79395f, -319.209442f,
                           1265.19739f, -318.715637f, 1541.63684f, -316.721558f};
  for (int i = 0; i <= 300; ++i) {
    // Control points across the 16-bit range or on the picture; spacings small to large.
    const bool picture = i % 3;
    std::uniform_real_distribution<float> at(picture ? 0.0f : -32768.0f, picture ? 912.0f : 32767.0f);
    const float spacings[] = {1, 1.5f, 2, 7, 0.25f + i * 0.1f}, spacing = i == 300 ? 0.45f : spacings[i % 5];
    const float offset = i == 300 ? 0 : spacing * (i % 4) / 3;
    float c[8];
    for (int k = 0; k < 8; ++k) c[k] = i == 300 ? folded[k] : at(rng);
    std::vector<float> samples[2];
    for (EnginePaths paths : {ENGINE_REFERENCE, ENGINE_FAST}) {
      engine_set_paths(paths);
      samples[paths].push_back(sampleCurve(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], spacing, offset));
      samples[paths].insert(samples[paths].end(), StrokeSamples.x, StrokeSamples.x + StrokeSamples.count);
      samples[paths].insert(samples[paths].end(), StrokeSamples.y, StrokeSamples.y + StrokeSamples.count);
    }
    engine_paths_reset();
    if (samples[0] != samples[1]) return "curve " + std::to_string(i);
  }
  for (int w : {912, 37, 3}) {
    const auto got = both_ways(w, w * 3 / 4, 1, 0, [](Image* image) { paintPaper(image); });
    if (!(got[0] == got[1])) return "paper " + std::to_string(w);
  }
  return "";
}

}  // namespace testsupport
