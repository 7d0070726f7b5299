// Draws the eight 42 x 42 tool icons and their grey-scale tint masks into a
// directory as BMP files. Every shape is evaluated at 4 x 4 points per pixel
// and averaged, so edges come out smooth. In the masks, white marks where a
// tool's paint is: those pixels take the current colour on the tool bar, and
// the icon is mid-grey there so that the colour shows as it is.
//
// Usage: make_icons OUTPUT_DIR
#include <allegro.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int SIZE = 42;
constexpr int SUB = 4;

struct Rgb {
  float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb shade(Rgb c, float f) { return {c.r * f, c.g * f, c.b * f}; }

constexpr Rgb PAINT = {128, 128, 128};  // shows the current colour unchanged

// One sample of an icon: the colour and the mask weight (0 keeps the icon, 1
// takes the current colour).
struct Sample {
  Rgb colour;
  float mask;
  void put(Rgb c, float m = 0) {
    colour = c;
    mask = m;
  }
};

struct V {
  float x, y;
};

// A frame along a tool lying on the icon: u runs from the tip along the tool,
// v across it.
struct Axis {
  V tip;
  V dir;
  Axis(V t, V end) : tip(t) {
    float dx = end.x - t.x, dy = end.y - t.y, l = std::sqrt(dx * dx + dy * dy);
    dir = {dx / l, dy / l};
  }
  float u(V p) const { return (p.x - tip.x) * dir.x + (p.y - tip.y) * dir.y; }
  float v(V p) const { return -(p.x - tip.x) * dir.y + (p.y - tip.y) * dir.x; }
};

// Cylinder shading across a part of half-width hw, lit from the upper left.
float round_light(float v, float hw) {
  float t = hw > 0 ? v / hw : 0;
  float f = 1.0f - 0.35f * t * t;
  float h = (t + 0.35f) / 0.25f;
  f += 0.45f * std::exp(-h * h);
  return f;
}

float seg_distance(V p, V a, V b) {
  float dx = b.x - a.x, dy = b.y - a.y;
  float l2 = dx * dx + dy * dy;
  float t = l2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2 : 0;
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  float ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
  return std::sqrt(ex * ex + ey * ey);
}

// A smooth curve through points (Catmull-Rom), as a dense polyline.
std::vector<V> curve(const std::vector<V>& pts) {
  std::vector<V> out;
  for (size_t i = 0; i + 1 < pts.size(); ++i) {
    V p0 = pts[i ? i - 1 : 0], p1 = pts[i], p2 = pts[i + 1], p3 = pts[i + 2 < pts.size() ? i + 2 : i + 1];
    for (int k = 0; k < 16; ++k) {
      float t = k / 16.0f, t2 = t * t, t3 = t2 * t;
      auto f = [&](float a, float b, float c, float d) {
        return 0.5f * (2 * b + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (-a + 3 * b - 3 * c + d) * t3);
      };
      out.push_back({f(p0.x, p1.x, p2.x, p3.x), f(p0.y, p1.y, p2.y, p3.y)});
    }
  }
  out.push_back(pts.back());
  return out;
}

// Distance to a polyline and the position along it (0..1).
float path_distance(V p, const std::vector<V>& path, float* along = nullptr) {
  float best = 1e9f;
  size_t best_i = 0;
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    float d = seg_distance(p, path[i], path[i + 1]);
    if (d < best) {
      best = d;
      best_i = i;
    }
  }
  if (along) *along = path.size() > 1 ? static_cast<float>(best_i) / (path.size() - 1) : 0;
  return best;
}

float hash_noise(int x, int y) {
  unsigned h = static_cast<unsigned>(x) * 374761393u + static_cast<unsigned>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return ((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
}

bool in_ellipse(V p, V c, float rx, float ry) {
  float dx = (p.x - c.x) / rx, dy = (p.y - c.y) / ry;
  return dx * dx + dy * dy <= 1;
}

// The slot's square: a soft light gradient with a bevelled edge.
Rgb background(V p) {
  float t = p.y / SIZE;
  Rgb c = mix({226, 232, 242}, {190, 202, 222}, t);
  if (p.x < 1 || p.y < 1) return {250, 252, 255};
  if (p.x >= SIZE - 1 || p.y >= SIZE - 1) return {120, 132, 156};
  return c;
}

// A soft dark shadow under a tool, offset to the lower right.
void shadow(Sample& s, bool under) {
  if (under) s.colour = shade(s.colour, 0.8f);
}

// ---- the tools ----

void pen(V p, Sample& s) {
  s.put(background(p));
  // The ink line ends at the nib.
  static const std::vector<V> ink = curve({{38, 36}, {31, 38.5f}, {24, 34}, {17, 37.5f}, {10.5f, 33}});
  if (path_distance(p, ink) < 1.25f) s.put(PAINT, 1);
  Axis a({10, 32}, {35, 7});
  float u = a.u(p), v = a.v(p);
  Axis sh({11.5f, 33.5f}, {36.5f, 8.5f});
  float su = sh.u(p), sv = sh.v(p);
  shadow(s, su > 8 && su < 37 && std::fabs(sv) < 4.2f);
  if (u < 0 || u > 36) return;
  if (u < 8) {  // nib: a metal point with a slit, ink at the very tip
    float hw = 3.4f * u / 8;
    if (std::fabs(v) > hw) return;
    Rgb metal = shade({200, 190, 150}, round_light(v, hw + 0.01f));
    if (std::fabs(v) < 0.35f && u > 1.5f && u < 6.5f) metal = {70, 60, 40};
    if (u < 1.8f) {
      s.put(PAINT, 1);
      return;
    }
    s.put(metal);
    return;
  }
  float hw = u < 13 ? 3.4f : (u < 33 ? 4.3f : 4.3f - (u - 33) * 0.9f);
  if (std::fabs(v) > hw) return;
  Rgb body = u < 13 ? Rgb{45, 45, 52} : Rgb{32, 58, 120};
  if ((u > 13 && u < 14.4f) || (u > 30.5f && u < 31.6f)) body = {215, 180, 70};  // gold rings
  if (u > 18 && u < 30 && v > -1.6f && v < -0.4f) body = {215, 180, 70};           // clip
  s.put(shade(body, round_light(v, hw)));
}

void pencil(V p, Sample& s) {
  s.put(background(p));
  static const std::vector<V> line = curve({{38, 37}, {30, 35}, {20, 38}, {11, 34}});
  if (path_distance(p, line) < 0.9f) s.put(PAINT, 1);
  Axis a({9, 33}, {36, 6});
  float u = a.u(p), v = a.v(p);
  Axis sh({10.5f, 34.5f}, {37.5f, 7.5f});
  shadow(s, sh.u(p) > 6 && sh.u(p) < 38 && std::fabs(sh.v(p)) < 4.5f);
  if (u < 0 || u > 38) return;
  if (u < 10) {  // sharpened cone: graphite point, then bare wood
    float hw = 4.2f * u / 10;
    if (std::fabs(v) > hw) return;
    if (u < 4.8f) {
      s.put(shade(PAINT, round_light(v, hw + 0.01f)), 1);
    } else {
      // The cut wood shows scalloped at the body's edge.
      s.put(shade({226, 186, 134}, round_light(v, hw)));
    }
    return;
  }
  const float hw = 4.2f;
  if (std::fabs(v) > hw) return;
  if (u < 31) {
    // Hexagonal body: three flat faces.
    float face = v < -1.4f ? 1.15f : (v < 1.4f ? 1.0f : 0.78f);
    Rgb c = shade({240, 188, 38}, face);
    if (u < 10.8f) c = shade(c, 0.85f);
    s.put(c);
  } else if (u < 34) {
    float ring = std::fmod(u - 31, 1.0f) < 0.5f ? 0.85f : 1.0f;
    s.put(shade(shade({190, 192, 200}, round_light(v, hw)), ring));
  } else {
    if (u > 37 && std::fabs(v) > hw - (u - 37) * 2.2f) return;
    s.put(shade({228, 128, 140}, round_light(v, hw)));
  }
}

void brush(V p, Sample& s) {
  s.put(background(p));
  // A broad stroke with bristle streaks, ending under the brush.
  static const std::vector<V> swash = curve({{39, 36.5f}, {30, 34}, {21, 37}, {12, 34}});
  float along;
  float d = path_distance(p, swash, &along);
  float width = 2.8f - 1.2f * along;
  if (d < width) {
    float streak = 0.85f + 0.3f * hash_noise(static_cast<int>(d * 3), 7);
    s.put(shade(PAINT, streak), 1);
  }
  Axis a({11, 32}, {37, 6});
  float u = a.u(p), v = a.v(p);
  Axis sh({12.5f, 33.5f}, {38.5f, 7.5f});
  shadow(s, sh.u(p) > 10 && sh.u(p) < 37 && std::fabs(sh.v(p)) < 3.5f);
  if (u < -1 || u > 37) return;
  if (u < 11) {  // bristles: a pointed tuft, wet with paint
    float t = (u + 1) / 12;
    float hw = 4.4f * std::sin(3.14159f * (0.15f + 0.6f * t));
    if (u < 2) hw *= (u + 1) / 3;
    if (std::fabs(v) > hw) return;
    float streak = 0.8f + 0.35f * hash_noise(static_cast<int>((v + 5) * 2.2f), 3);
    s.put(shade(PAINT, streak * round_light(v, hw + 0.01f)), 1);
    return;
  }
  if (u < 17) {  // metal ferrule
    const float hw = 3.6f;
    if (std::fabs(v) > hw) return;
    float crimp = (u > 15.5f) ? 0.8f : 1.0f;
    s.put(shade(shade({196, 198, 206}, round_light(v, hw)), crimp));
    return;
  }
  float hw = 2.9f - (u - 17) * 0.05f;
  if (u > 34) hw = std::sqrt(std::max(0.0f, 9 - (u - 34) * (u - 34))) * hw / 3;
  if (std::fabs(v) > hw) return;
  s.put(shade({168, 52, 36}, round_light(v, hw)));  // lacquered handle
}

void chalk(V p, Sample& s) {
  s.put(background(p));
  // A grainy stroke: paper shows through where the grain is high.
  static const std::vector<V> stroke = curve({{4, 36}, {13, 31}, {22, 35}, {31, 31}});
  float d = path_distance(p, stroke);
  if (d < 3.6f) {
    int gx = static_cast<int>(p.x * 1.5f), gy = static_cast<int>(p.y * 1.5f);
    float grain = hash_noise(gx, gy);
    if (grain > 0.25f + 0.2f * d / 3.6f) s.put(shade(PAINT, 0.9f + 0.2f * grain), 1);
  }
  // The stick, lying with its worn end down on the stroke.
  Axis a({25, 25}, {37, 6});
  float u = a.u(p), v = a.v(p);
  Axis sh({26.5f, 26.5f}, {38.5f, 7.5f});
  shadow(s, sh.u(p) > 0 && sh.u(p) < 23 && std::fabs(sh.v(p)) < 4.6f);
  const float hw = 4.2f;
  if (std::fabs(v) > hw) return;
  float cap = 1.6f * std::sqrt(std::max(0.0f, 1 - (v / hw) * (v / hw)));
  if (u < -cap || u > 21 + cap) return;
  if (u > 21 - cap) {  // the far end face, seen slightly from above
    s.put(shade(PAINT, 1.25f), 1);
    return;
  }
  float dust = 0.93f + 0.1f * hash_noise(static_cast<int>(p.x * 2), static_cast<int>(p.y * 2));
  s.put(shade(PAINT, round_light(v, hw) * dust), 1);
}

void smudge(V p, Sample& s) {
  s.put(background(p));
  // A smeared stroke: solid where it was laid, dragged thin and faint to the right.
  static const std::vector<V> smear = curve({{5, 34}, {12, 31}, {20, 33}, {28, 31}, {38, 33}});
  float along;
  float d = path_distance(p, smear, &along);
  float width = 4.2f - 1.8f * along;
  if (d < width) {
    float strength = (1 - 0.85f * along) * (1 - (d / width) * (d / width));
    strength = std::min(1.0f, strength * 1.4f);
    s.put(mix(s.colour, PAINT, strength), strength);
  }
  // A fingertip pressing on the smear from the upper right, nail up.
  Axis a({17, 28}, {38, 4});
  float u = a.u(p), v = a.v(p);
  Axis sh({18.5f, 29.5f}, {39.5f, 5.5f});
  float shu = sh.u(p), shv = sh.v(p);
  shadow(s, shu > -5 && std::fabs(shv) < 6 && (shu > 0 || in_ellipse({shu, shv}, {0, 0}, 5, 6)));
  const float hw = 5.6f;
  bool inside = std::fabs(v) <= hw && u >= 0 && u <= 34;
  if (u < 0 && in_ellipse({u, v}, {0, 0}, 5, hw)) inside = true;
  if (!inside) return;
  Rgb skin = shade({236, 184, 150}, round_light(v, hw));
  // Knuckle crease.
  if (std::fabs(u - 12.5f) < 0.45f && std::fabs(v) < 4) skin = shade(skin, 0.72f);
  // The nail on the upper side of the tip, with its rim and a pale free edge.
  if (in_ellipse({u, v}, {3, -2.4f}, 5, 2.9f)) {
    skin = {196, 120, 110};
    if (in_ellipse({u, v}, {3, -2.4f}, 4.2f, 2.2f)) {
      skin = mix({236, 160, 158}, {252, 214, 210}, std::max(0.0f, -(v + 1.4f) / 2.2f));
      if (u < 0) skin = {252, 244, 238};
    }
  }
  s.put(skin);
}

void stamp(V p, Sample& s) {
  s.put(background(p));
  // Prints left along the way, each a round rubber print with a lighter ring.
  const V prints[] = {{7, 35}, {16, 35.5f}};
  for (V c : prints) {
    float dx = p.x - c.x, dy = p.y - c.y, r = std::sqrt(dx * dx + dy * dy);
    if (r < 3.8f) s.put(shade(PAINT, r > 2 && r < 2.8f ? 1.3f : 1.0f), 1);
  }
  // The stamp itself, upright: knob, neck, block, rubber pad with paint on it.
  const float cx = 29;
  if (in_ellipse(p, {cx, 8}, 4.6f, 4.4f)) {
    float l = 1.25f - 0.55f * ((p.x - cx + 1.5f) * (p.x - cx + 1.5f) + (p.y - 6.5f) * (p.y - 6.5f)) / 25;
    s.put(shade({170, 60, 40}, l));
    return;
  }
  if (p.y >= 11.5f && p.y < 18 && std::fabs(p.x - cx) < 2.1f + (p.y - 11.5f) * 0.25f) {
    s.put(shade({150, 52, 34}, round_light(p.x - cx, 3.6f)));
    return;
  }
  if (p.y >= 18 && p.y < 27 && std::fabs(p.x - cx) < 8) {
    float grain = 0.92f + 0.12f * std::sin(p.y * 2.4f + std::sin(p.x * 0.7f) * 1.5f);
    float face = p.y < 19.2f ? 1.18f : 1.0f;
    s.put(shade({200, 150, 96}, round_light(p.x - cx, 8) * grain * face));
    return;
  }
  if (p.y >= 27 && p.y < 31 && std::fabs(p.x - cx) < 7.2f) {
    if (p.y < 28.3f) {
      s.put({70, 66, 64});  // the rubber
    } else {
      s.put(shade(PAINT, round_light(p.x - cx, 7.2f)), 1);  // inked face
    }
  }
}

void paint(V p, Sample& s) {
  s.put(background(p));
  // A tilted wooden palette with a thumb hole and five blobs in shades.
  V c{21, 22};
  const float ang = -0.45f, ca = std::cos(ang), sa = std::sin(ang);
  float x = (p.x - c.x) * ca - (p.y - c.y) * sa, y = (p.x - c.x) * sa + (p.y - c.y) * ca;
  V q{x, y};
  bool board = in_ellipse(q, {0, 0}, 18.5f, 13.5f) && !in_ellipse(q, {15, 9}, 7, 5.5f);
  bool shadow_board = in_ellipse({q.x - 1.4f, q.y - 0.6f}, {0, 0}, 18.5f, 13.5f);
  if (!board) {
    if (shadow_board && !in_ellipse({q.x - 1.4f, q.y - 0.6f}, {15, 9}, 7, 5.5f)) s.colour = shade(s.colour, 0.8f);
    if (!in_ellipse(q, {0, 0}, 18.5f, 13.5f)) return;
    // The thumb hole shows the slot's background.
    return;
  }
  if (in_ellipse(q, {7.5f, 5}, 2.6f, 2.2f) || (in_ellipse(q, {6.2f, 8.8f}, 2.2f, 1.8f))) {
    s.put({120, 80, 44});  // the hole's rim
  }
  float l = 1.08f - 0.2f * (q.y + 13.5f) / 27;
  if (!in_ellipse(q, {15, 9}, 8.2f, 6.7f) && !in_ellipse(q, {0, 0}, 17.2f, 12.2f)) l *= 0.78f;
  s.put(shade({214, 164, 104}, l));
  if (in_ellipse(q, {15, 9}, 8.2f, 6.7f) && !in_ellipse(q, {15, 9}, 7, 5.5f)) s.put({150, 104, 60});
  const struct {
    V at;
    float r;
    float level;
  } blobs[] = {{{-11, -3}, 3.6f, 0.55f}, {{-6, -8.5f}, 3.4f, 0.8f}, {{1.5f, -8.8f}, 3.5f, 1.0f},
               {{8.5f, -5.8f}, 3.3f, 1.25f}, {{-6.5f, 4.2f}, 3.8f, 1.45f}};
  for (const auto& b : blobs) {
    float dx = q.x - b.at.x, dy = q.y - b.at.y;
    float r2 = (dx * dx + dy * dy) / (b.r * b.r);
    if (r2 > 1) continue;
    float gloss = (dx + 1.1f) * (dx + 1.1f) + (dy + 1.1f) * (dy + 1.1f) < 0.9f ? 1.35f : 1.0f;
    s.put(shade(PAINT, b.level * gloss * (1.05f - 0.12f * r2)), 1);
  }
}

void chat(V p, Sample& s) {
  s.put(background(p));
  // The other user's bubble, behind, in the current colour.
  auto bubble = [](V q, V c, float rx, float ry, V tail_a, V tail_b, V tail_tip) {
    if (in_ellipse(q, c, rx, ry)) return true;
    // Tail triangle.
    auto side = [](V a, V b, V x) { return (b.x - a.x) * (x.y - a.y) - (b.y - a.y) * (x.x - a.x); };
    float d1 = side(tail_a, tail_b, q), d2 = side(tail_b, tail_tip, q), d3 = side(tail_tip, tail_a, q);
    return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
  };
  V back_c{27, 15};
  bool back = bubble(p, back_c, 12.5f, 9, {31, 20}, {37, 18}, {39, 28});
  bool back_edge = !bubble(p, back_c, 11.3f, 7.8f, {31.5f, 20}, {36, 18.5f}, {38, 26}) && back;
  if (back) s.put(back_edge ? shade(PAINT, 0.6f) : shade(PAINT, 1.0f + 0.15f * (back_c.y - p.y) / 9), 1);
  // Our bubble, in front: white with a dark rim and three lines of text.
  V front_c{17, 24};
  bool front = bubble(p, front_c, 14, 10, {9, 30}, {15, 32}, {5, 39});
  bool inner = bubble(p, front_c, 12.8f, 8.8f, {9.6f, 29.5f}, {14, 31.5f}, {6.4f, 37});
  if (!front) return;
  if (!inner) {
    s.put({48, 56, 72});
    return;
  }
  s.put(mix({255, 255, 255}, {226, 230, 238}, (p.y - 14) / 20));
  // Three lines of words, each word a short dash.
  const struct {
    float y, from, to;
  } words[] = {{20.5f, 8, 13}, {20.5f, 15, 25}, {24.5f, 7, 16}, {24.5f, 18, 28}, {28.5f, 9, 19}};
  for (const auto& w : words) {
    if (std::fabs(p.y - w.y) < 0.75f && p.x > w.from && p.x < w.to) s.put({70, 78, 96});
  }
}

struct Tool {
  const char* name;
  void (*draw)(V, Sample&);
};

const Tool TOOLS[] = {{"pen", pen},       {"pencil", pencil}, {"brush", brush}, {"chalk", chalk},
                      {"smudge", smudge}, {"stamp", stamp},   {"paint", paint}, {"chat", chat}};

int to_byte(float v) {
  int c = static_cast<int>(std::lround(v));
  return c < 0 ? 0 : (c > 255 ? 255 : c);
}

bool write_tool(const Tool& tool, const std::string& dir) {
  BITMAP* icon = create_bitmap_ex(32, SIZE, SIZE);
  BITMAP* mask = create_bitmap_ex(32, SIZE, SIZE);
  if (!icon || !mask) return false;
  for (int y = 0; y < SIZE; ++y) {
    for (int x = 0; x < SIZE; ++x) {
      Rgb sum{0, 0, 0};
      float msum = 0;
      for (int j = 0; j < SUB; ++j) {
        for (int i = 0; i < SUB; ++i) {
          Sample s{{0, 0, 0}, 0};
          tool.draw({x + (i + 0.5f) / SUB, y + (j + 0.5f) / SUB}, s);
          sum = {sum.r + s.colour.r, sum.g + s.colour.g, sum.b + s.colour.b};
          msum += s.mask;
        }
      }
      const float n = SUB * SUB;
      putpixel(icon, x, y, makecol32(to_byte(sum.r / n), to_byte(sum.g / n), to_byte(sum.b / n)));
      int m = to_byte(255 * msum / n);
      putpixel(mask, x, y, makecol32(m, m, m));
    }
  }
  std::string icon_path = dir + "/" + tool.name + ".bmp";
  std::string mask_path = dir + "/" + tool.name + "mask.bmp";
  bool ok = save_bitmap(icon_path.c_str(), icon, nullptr) == 0 &&
            save_bitmap(mask_path.c_str(), mask, nullptr) == 0;
  destroy_bitmap(icon);
  destroy_bitmap(mask);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_icons OUTPUT_DIR\n");
    return 2;
  }
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
    fprintf(stderr, "cannot start Allegro\n");
    return 1;
  }
  set_color_depth(32);
  for (const Tool& tool : TOOLS) {
    if (!write_tool(tool, argv[1])) {
      fprintf(stderr, "cannot write the %s icon into %s\n", tool.name, argv[1]);
      return 1;
    }
  }
  return 0;
}
END_OF_MAIN()
