// The random source is part of the wire contract: every client must draw the
// same numbers from the same seed.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "paint/random.h"

namespace {

std::vector<uint32_t> draws(int count) {
  std::vector<uint32_t> out;
  for (int i = 0; i < count; ++i) out.push_back(nextRandom());
  return out;
}

}  // namespace

TEST(Random, StatedOutputsOfSeedZeroAndDefaultSeed) {
  random_reset();
  seedRandom(0);
  EXPECT_EQ(3989082864u, nextRandom());
  EXPECT_EQ(3688980536u, nextRandom());
  EXPECT_EQ(2594130052u, nextRandom());

  seedRandom(0);
  std::vector<uint32_t> zero = draws(2500);
  seedRandom(DEFAULT_RANDOM_SEED);
  EXPECT_EQ(zero, draws(2500));
}

TEST(Random, StatedOutputsOfSeedOneAcrossRegenerations) {
  random_reset();
  seedRandom(1);
  std::vector<uint32_t> d = draws(1001);
  EXPECT_EQ(3696575821u, d[0]);
  EXPECT_EQ(2540846272u, d[1]);
  EXPECT_EQ(1022855777u, d[2]);
  EXPECT_EQ(1634010771u, d[999]);
  EXPECT_EQ(2540945708u, d[1000]);
}

// Pinned hashes of 5500 draws: five regenerations, every wrap-around index.
TEST(Random, PinnedHashesOverManyRegenerations) {
  const std::pair<uint32_t, uint64_t> cases[] = {
      {2u, 14815671788295641630ull}, {4357u, 15757480394959559264ull}, {0xFFFFFFFFu, 17721107160467641796ull}};
  for (const auto& c : cases) {
    random_reset();
    seedRandom(c.first);
    uint64_t h = 1469598103934665603ull;
    for (uint32_t v : draws(5500)) h = (h ^ v) * 1099511628211ull;
    EXPECT_EQ(c.second, h) << "seed " << c.first;
  }
}

TEST(Random, UnseededLocalStreamStartsLikeSeedZero) {
  random_reset();
  EXPECT_EQ(1001u, random_position(LOCAL_STREAM));
  std::vector<uint32_t> unseeded = draws(1200);
  seedRandom(0);
  EXPECT_EQ(unseeded, draws(1200));
}

TEST(Random, CommandBracketLeavesLocalStreamWhereItWas) {
  random_reset();
  seedRandom(77);
  std::vector<uint32_t> expected = draws(10);
  seedRandom(77);
  std::vector<uint32_t> got = draws(4);

  useCommandStream(0);
  EXPECT_EQ(COMMAND_STREAM, random_selected_stream());
  EXPECT_EQ(1000u, random_position(COMMAND_STREAM));
  EXPECT_EQ(3989082864u, nextRandom());
  seedRandom(1);  // a command's own seed goes to the command stream
  EXPECT_EQ(3696575821u, nextRandom());
  useLocalStream();
  EXPECT_EQ(LOCAL_STREAM, random_selected_stream());

  std::vector<uint32_t> rest = draws(6);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(expected, got);
}

TEST(Random, UnitScaleReachesBothEnds) {
  EXPECT_EQ(0.0, random_unit(0));
  EXPECT_EQ(1.0, random_unit(0xFFFFFFFFu));
  EXPECT_EQ(2.3283064370807974e-10, RANDOM_UNIT);
}

TEST(Random, BlockDrawsContinueTheSameSequence) {
  random_reset();
  seedRandom(31);
  std::vector<uint32_t> one_by_one = draws(3100);
  seedRandom(31);
  std::vector<uint32_t> blocks(3100);
  unsigned sizes[] = {3, 997, 1, 1000, 1001, 98};  // across regenerations, odd lengths
  unsigned at = 0;
  for (unsigned n : sizes) {
    nextRandomBlock(blocks.data() + at, n);
    at += n;
  }
  EXPECT_EQ(one_by_one, blocks);
  // From an unseeded stream too, and from the selected stream only.
  random_reset();
  std::vector<uint32_t> local(5);
  nextRandomBlock(local.data(), 5);
  random_reset();
  EXPECT_EQ(draws(5), local);
  useCommandStream(1);
  uint32_t first;
  nextRandomBlock(&first, 1);
  EXPECT_EQ(3696575821u, first);
  EXPECT_EQ(1u, random_position(COMMAND_STREAM));
  EXPECT_EQ(5u, random_position(LOCAL_STREAM));
}
