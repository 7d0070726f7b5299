// The empty picture: "bg.bmp" when present, otherwise the generated paper; and
// BMP files read as the desktop's graphics library reads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "paint/bmp_file.h"
#include "paint/canvas.h"
#include "paint/pixel.h"
#include "paint/random.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes* b, uint32_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) b->push_back(static_cast<uint8_t>(v >> (8 * k)));
}

// A BMP file w x h: a palette of the given number of colours for up to 8 bits
// a pixel, else the channels themselves (16 bits: 5 each, or with masks 5, 6
// and 5); rows from the bottom up unless top_down; the 12-byte header of old
// when os2. No two neighbours alike.
struct BmpKind {
  int bits;
  bool top_down, os2;
  int colours;
  bool masks;
};
Bytes bmp_file(int w, int h, const BmpKind& k) {
  Bytes palette, pixels;
  for (int i = 0; k.bits <= 8 && i < k.colours; ++i) {
    put(&palette, (255 - i) << 16 | (i * 11 + 3) << 8 | (i * 37 & 0xFF), k.os2 ? 3 : 4);
  }
  const int row_bytes = (w * k.bits + 31) / 32 * 4;
  for (int r = 0; r < h; ++r) {
    const int y = k.top_down ? r : h - 1 - r;
    Bytes row(row_bytes, 0);
    for (int x = 0; x < w; ++x) {
      const uint32_t rgb = static_cast<uint32_t>((x * y + 5) << 16 | (y * 17 + x) << 8 | (x * 9 + y)) & 0xFFFFFF;
      if (k.bits <= 8) {
        const int index = (x * 7 + y * 3) % k.colours, bit = x * k.bits;
        row[bit / 8] |= static_cast<uint8_t>(index << (8 - k.bits - bit % 8));
      } else if (k.bits == 16) {
        const uint32_t v = k.masks ? (x * 3 & 31) << 11 | ((y * 5 + x) & 63) << 5 | ((x + y) & 31)
                                   : (x * 3 & 31) << 10 | ((y * 5 + x) & 31) << 5 | ((x + y) & 31);
        row[2 * x] = static_cast<uint8_t>(v), row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      } else {
        for (int c = 0; c < 3; ++c) row[k.bits / 8 * x + c] = static_cast<uint8_t>(rgb >> (8 * c));
        if (k.bits == 32) row[4 * x + 3] = 0x5A;  // not alpha
      }
    }
    pixels.insert(pixels.end(), row.begin(), row.end());
  }
  if (k.masks) put(&palette, 0xF800, 4), put(&palette, 0x7E0, 4), put(&palette, 0x1F, 4);
  const uint32_t header = k.os2 ? 12 : 40, offset = 14 + header + static_cast<uint32_t>(palette.size());
  Bytes file = {'B', 'M'};
  put(&file, offset + static_cast<uint32_t>(pixels.size()), 4), put(&file, 0, 4), put(&file, offset, 4);
  put(&file, header, 4);
  if (k.os2) {
    put(&file, w, 2), put(&file, h, 2), put(&file, 1, 2), put(&file, k.bits, 2);
  } else {
    put(&file, w, 4), put(&file, k.top_down ? -h : h, 4), put(&file, 1, 2), put(&file, k.bits, 2);
    put(&file, k.masks ? 3 : 0, 4), put(&file, static_cast<uint32_t>(pixels.size()), 4), put(&file, 2835, 4);
    put(&file, 2835, 4), put(&file, k.bits <= 8 ? k.colours : 0, 4), put(&file, 0, 4);
  }
  file.insert(file.end(), palette.begin(), palette.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

void write_file(const char* name, const Bytes& bytes) {
  FILE* f = fopen(name, "wb");
  ASSERT_TRUE(f);
  EXPECT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), f));
  fclose(f);
}

}  // namespace

// Sizes draw their own texture, not crops of one another. The paper comes from
// its own seed, whatever was drawn before, and leaves the local stream where it
// was; "bg.bmp" replaces it.
TEST(Canvas, PinnedPaperOrTheBackgroundPicture) {
  testsupport::TempDir dir;  // no "bg.bmp" here yet
  const struct {
    int w, h;
    uint64_t sum;
  } sizes[] = {{912, 684, 13740167982285035807ull},
               {160, 120, 10443965888042203890ull},
               {37, 23, 2177681516716503357ull},
               {3, 2, 9027591118986259757ull}};
  for (const auto& size : sizes) {
    Image* image = testsupport::make_pattern(size.w, size.h);
    seedRandom(size.w);
    uint32_t local_next = nextRandom();
    seedRandom(size.w);
    useCommandStream(size.h);
    nextRandom();
    useLocalStream();
    resetCanvas(image);
    EXPECT_EQ(size.sum, testsupport::image_checksum(image)) << size.w;
    EXPECT_EQ(local_next, nextRandom());  // from the local stream, as before
    testsupport::free_image(image);
  }
  // A background picture is copied at (0, 0), clipped; where it is smaller the
  // old pixels stay. The random source is neither seeded nor selected.
  const BmpKind kinds[] = {{24, false, false, 0, false}, {8, false, false, 256, false}};
  for (const BmpKind& kind : kinds) {
    write_file("bg.bmp", bmp_file(30, 20, kind));
    Image bg;
    ASSERT_TRUE(bmp_load(&bg, "bg.bmp"));
    Image* image = testsupport::make_filled(50, 15, 1, 2, 3);
    Image* expected = testsupport::make_filled(50, 15, 1, 2, 3);
    random_reset();
    resetCanvas(image);
    image_copy_all(&bg, expected);
    EXPECT_TRUE(testsupport::images_equal(expected, image)) << kind.bits;
    EXPECT_EQ(LOCAL_STREAM, random_selected_stream());
    EXPECT_EQ(1001u, random_position(COMMAND_STREAM));
    EXPECT_EQ(1001u, random_position(LOCAL_STREAM));
    Image* strip = testsupport::make_filled(50, 1, 1, 2, 3);  // a single row: the picture's top one
    resetCanvas(strip);
    EXPECT_EQ(0, memcmp(strip->pixels, bg.pixels, 30 * sizeof(uint32_t))) << kind.bits;
    testsupport::free_image(strip);
    image_destroy(&bg);
    testsupport::free_image(image);
    testsupport::free_image(expected);
  }
}

// Every kind of BMP file the graphics library reads gives its pixels: palettes
// of 1, 4 and 8 bits (its 6 bits a channel), 16 bits with and without masks,
// 24 and 32 bits a pixel, the 12-byte header of old. Rows from the top down,
// which it refuses, are read too.
TEST(BmpFile, ReadsWhatTheGraphicsLibraryReads) {
  testsupport::TempDir dir;
  const BmpKind kinds[] = {{24, false, false, 0, false}, {32, false, false, 0, false}, {16, false, false, 0, false},
                           {16, false, false, 0, true},  {8, false, false, 256, false}, {8, false, false, 20, false},
                           {4, false, false, 16, false}, {1, false, false, 2, false},   {24, false, true, 0, false},
                           {8, false, true, 256, false}};
  const int depth = get_color_depth();
  set_color_depth(32);  // as the client loaded its background
  for (const BmpKind& kind : kinds) {
    SCOPED_TRACE(::testing::Message() << kind.bits << " bits, " << kind.colours << " colours, os2 " << kind.os2
                                      << ", masks " << kind.masks);
    for (int w : {1, 13, 64}) {
      write_file("x.bmp", bmp_file(w, 7, kind));
      BITMAP* theirs = load_bitmap("x.bmp", nullptr);
      ASSERT_TRUE(theirs);
      Image ours;
      ASSERT_TRUE(bmp_load(&ours, "x.bmp"));
      ASSERT_EQ(theirs->w, ours.w);
      ASSERT_EQ(theirs->h, ours.h);
      for (int y = 0; y < ours.h; ++y)
        for (int x = 0; x < ours.w; ++x) {
          const int p = getpixel(theirs, x, y);
          const uint32_t q = testsupport::pixel_at(&ours, x, y);
          ASSERT_EQ((std::vector<int>{getr32(p), getg32(p), getb32(p)}),
                    (std::vector<int>{pixel_red(q), pixel_green(q), pixel_blue(q)}))
              << w << " wide, at " << x << "," << y;
        }
      destroy_bitmap(theirs);
      // From the top down: the same picture.
      if (!kind.os2) {
        Image flipped;
        BmpKind down = kind;
        down.top_down = true;
        const Bytes bytes = bmp_file(w, 7, down);
        ASSERT_TRUE(bmp_decode(&flipped, bytes.data(), bytes.size()));
        EXPECT_TRUE(testsupport::images_equal(&ours, &flipped));
        image_destroy(&flipped);
      }
      image_destroy(&ours);
    }
  }
  set_color_depth(depth);
}

// Damaged files are refused or read, never more: every cut of a good file
// (whose missing bytes read as 0), sizes that are zero, negative at the edge of
// the range, beyond the limit or more than the bytes can hold, and headers of
// no known kind.
TEST(BmpFile, DamagedFilesAreRefusedWithoutHarm) {
  const Bytes good = bmp_file(13, 7, BmpKind{8, false, false, 256, false});
  Image image;
  for (size_t n = 0; n <= good.size(); ++n) {
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    const bool ok = bmp_decode(&image, cut.data(), cut.size());
    EXPECT_TRUE(ok ? image.w == 13 && image.h == 7 && image.stride == 13 : image.pixels == nullptr) << n;
    EXPECT_TRUE(ok || n < good.size());
    image_destroy(&image);
  }
  auto with = [&](size_t at, uint32_t v, int bytes) {
    Bytes b = good;
    for (int k = 0; k < bytes; ++k) b.at(at + k) = static_cast<uint8_t>(v >> (8 * k));
    return b;
  };
  const Bytes refused[] = {with(18, 0, 4),           with(22, 0, 4),          with(22, 0x80000000u, 4),
                           with(18, 0xFFFFFFF3u, 4), with(18, 16385, 4),      with(22, 16385, 4),
                           with(18, 4000, 4),        with(14, 20, 4),         with(28, 7, 2),
                           with(0, 'X', 1),          with(10, 0x7FFFFFFF, 4), Bytes(good.begin(), good.begin() + 20)};
  for (const Bytes& b : refused) {
    EXPECT_FALSE(bmp_decode(&image, b.data(), b.size()));
    EXPECT_TRUE(image.pixels == nullptr && image.w == 0 && image.h == 0 && image.stride == 0);
  }
  EXPECT_FALSE(bmp_decode(&image, nullptr, 0));
  EXPECT_FALSE(bmp_load(&image, "/no/such/file.bmp"));
  EXPECT_FALSE(bmp_load(&image, "/"));
}
