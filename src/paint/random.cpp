#include "paint/random.h"

namespace {

constexpr unsigned STATE_WORDS = 1000;
constexpr unsigned MIDDLE_DISTANCE = 637;
constexpr unsigned POSITION_USED_UP = 1000;
constexpr unsigned POSITION_UNSEEDED = 1001;

struct RandomStream {
  uint32_t state[STATE_WORDS];
  unsigned position;
};

struct RandomSourceState {
  RandomStream streams[2];
  int selected;
};

RandomSourceState RandomSource = {{{{0}, POSITION_UNSEEDED}, {{0}, POSITION_UNSEEDED}}, LOCAL_STREAM};

void seed_stream(RandomStream* s, uint32_t seed) {
  if (seed == 0) seed = DEFAULT_RANDOM_SEED;
  s->state[0] = seed;
  for (unsigned i = 1; i < STATE_WORDS; ++i) {
    uint32_t prev = s->state[i - 1];
    s->state[i] = 1812433253u * (prev ^ (prev >> 30)) + i;
  }
  s->position = POSITION_USED_UP;
}

// In place and in increasing order, so the upper part of the table reads words
// that were already regenerated in this pass.
void regenerate(RandomStream* s) {
  uint32_t* st = s->state;
  for (unsigned k = 0; k < STATE_WORDS; ++k) {
    uint32_t y = (st[k] & 0x80000000u) | (st[(k + 1) % STATE_WORDS] & 0x7FFFFFFFu);
    st[k] = st[(k + MIDDLE_DISTANCE) % STATE_WORDS] ^ (y >> 1) ^ ((y & 1u) ? 0x9908B0DFu : 0u);
  }
  s->position = 0;
}

}  // namespace

void seedRandom(uint32_t seed) { seed_stream(&RandomSource.streams[RandomSource.selected], seed); }

void useCommandStream(uint32_t seed) {
  RandomSource.selected = COMMAND_STREAM;
  seedRandom(seed);
}

void useLocalStream() { RandomSource.selected = LOCAL_STREAM; }

uint32_t nextRandom() {
  RandomStream* s = &RandomSource.streams[RandomSource.selected];
  if (s->position >= POSITION_USED_UP) {
    if (s->position == POSITION_UNSEEDED) seed_stream(s, DEFAULT_RANDOM_SEED);
    regenerate(s);
  }
  uint32_t y = s->state[s->position++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

int random_selected_stream() { return RandomSource.selected; }

unsigned random_position(int stream) {
  if (stream != LOCAL_STREAM && stream != COMMAND_STREAM) return POSITION_UNSEEDED;
  return RandomSource.streams[stream].position;
}

void random_reset() {
  for (RandomStream& s : RandomSource.streams) s.position = POSITION_UNSEEDED;
  RandomSource.selected = LOCAL_STREAM;
}
