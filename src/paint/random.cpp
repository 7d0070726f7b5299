#include "paint/random.h"

#include <cstring>

namespace {

constexpr unsigned STATE_WORDS = RANDOM_READY_MAX;
constexpr unsigned MIDDLE_DISTANCE = 637;
constexpr unsigned POSITION_USED_UP = 1000;
constexpr unsigned POSITION_UNSEEDED = 1001;

struct RandomStream {
  uint32_t state[STATE_WORDS];
  uint32_t tempered[STATE_WORDS];  // the outputs of the current state
  unsigned position;  // of the selected stream: stale while RandomReady points into it
};

struct RandomSourceState {
  RandomStream streams[2];
  int selected;
};

__thread RandomSourceState RandomSource = {{{{0}, {0}, POSITION_UNSEEDED}, {{0}, {0}, POSITION_UNSEEDED}}, LOCAL_STREAM};

RandomStream* selected_stream() { return &RandomSource.streams[RandomSource.selected]; }

// The cursor's place written back to the selected stream.
void settle_position() {
  RandomStream* s = selected_stream();
  if (RandomReady.end) s->position = static_cast<unsigned>(RandomReady.next - s->tempered);
}

// The cursor over what the selected stream has ready.
void point_cursor() {
  RandomStream* s = selected_stream();
  if (s->position < POSITION_USED_UP) {
    RandomReady.next = s->tempered + s->position;
    RandomReady.end = s->tempered + STATE_WORDS;
  } else {
    RandomReady.next = RandomReady.end = nullptr;
  }
}

void seed_stream(RandomStream* s, uint32_t seed) {
  if (seed == 0) seed = DEFAULT_RANDOM_SEED;
  s->state[0] = seed;
  for (unsigned i = 1; i < STATE_WORDS; ++i) {
    uint32_t prev = s->state[i - 1];
    s->state[i] = 1812433253u * (prev ^ (prev >> 30)) + i;
  }
  s->position = POSITION_USED_UP;
}

// Eight words side by side: two SSE2 registers, or one AVX2 register in the
// clone of regenerate for processors that have it (the same arithmetic on
// words, so every clone gives the same outputs).
typedef uint32_t Words8 __attribute__((vector_size(32)));

#if defined(__x86_64__) && defined(__GNUC__)
#define REGENERATE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define REGENERATE_CLONES
#endif

inline uint32_t twist(uint32_t word, uint32_t next, uint32_t far) {
  uint32_t y = (word & 0x80000000u) | (next & 0x7FFFFFFFu);
  return far ^ (y >> 1) ^ ((y & 1u) ? 0x9908B0DFu : 0u);
}

// Eight words tempered side by side.
inline void temper8(const uint32_t* in, uint32_t* out) {
  Words8 y;
  std::memcpy(&y, in, sizeof y);
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  std::memcpy(out, &y, sizeof y);
}

// twist on eight neighbouring words side by side.
inline void twist8(uint32_t* word, const uint32_t* far) {
  Words8 w, next, f;
  std::memcpy(&w, word, sizeof w);
  std::memcpy(&next, word + 1, sizeof next);
  std::memcpy(&f, far, sizeof f);
  Words8 y = (w & 0x80000000u) | (next & 0x7FFFFFFFu);
  Words8 odd = -(y & 1u);
  w = f ^ (y >> 1) ^ (odd & 0x9908B0DFu);
  std::memcpy(word, &w, sizeof w);
}

// In place and in increasing order, so the upper part of the table reads words
// that were already regenerated in this pass (indices taken modulo 1000). Eight
// at a time is the same: a word reads its right neighbour before that is
// rewritten, and far words at least WRAP behind, long rewritten.
REGENERATE_CLONES void regenerate(RandomStream* s) {
  uint32_t* st = s->state;
  constexpr unsigned WRAP = STATE_WORDS - MIDDLE_DISTANCE;
  unsigned k = 0;
  for (; k + 8 <= WRAP; k += 8) twist8(st + k, st + k + MIDDLE_DISTANCE);
  for (; k < WRAP; ++k) st[k] = twist(st[k], st[k + 1], st[k + MIDDLE_DISTANCE]);
  for (; k + 8 <= STATE_WORDS - 1; k += 8) twist8(st + k, st + k - WRAP);
  for (; k < STATE_WORDS - 1; ++k) st[k] = twist(st[k], st[k + 1], st[k - WRAP]);
  st[STATE_WORDS - 1] = twist(st[STATE_WORDS - 1], st[0], st[STATE_WORDS - 1 - WRAP]);
  static_assert(STATE_WORDS % 8 == 0, "tempered eight at a time");
  for (k = 0; k < STATE_WORDS; k += 8) temper8(st + k, s->tempered + k);
  s->position = 0;
}

}  // namespace

__thread RandomCursor RandomReady = {nullptr, nullptr};

void seedRandom(uint32_t seed) {
  seed_stream(selected_stream(), seed);
  point_cursor();
}

void useCommandStream(uint32_t seed) {
  settle_position();
  RandomSource.selected = COMMAND_STREAM;
  seedRandom(seed);
}

void useLocalStream() {
  settle_position();
  RandomSource.selected = LOCAL_STREAM;
  point_cursor();
}

namespace {

inline void make_ready(RandomStream* s) {
  if (s->position >= POSITION_USED_UP) {
    if (s->position == POSITION_UNSEEDED) seed_stream(s, DEFAULT_RANDOM_SEED);
    regenerate(s);
  }
}

}  // namespace

uint32_t nextRandomRefill() {
  settle_position();
  make_ready(selected_stream());
  point_cursor();
  return *RandomReady.next++;
}

void nextRandomBlock(uint32_t* out, unsigned count) {
  settle_position();
  RandomStream* s = selected_stream();
  while (count > 0) {
    make_ready(s);
    unsigned take = STATE_WORDS - s->position;
    if (take > count) take = count;
    std::memcpy(out, s->tempered + s->position, take * sizeof *out);
    s->position += take;
    out += take;
    count -= take;
  }
  point_cursor();
}

int random_selected_stream() { return RandomSource.selected; }

unsigned random_position(int stream) {
  if (stream != LOCAL_STREAM && stream != COMMAND_STREAM) return POSITION_UNSEEDED;
  settle_position();
  return RandomSource.streams[stream].position;
}

void random_reset() {
  for (RandomStream& s : RandomSource.streams) s.position = POSITION_UNSEEDED;
  RandomSource.selected = LOCAL_STREAM;
  RandomReady.next = RandomReady.end = nullptr;
}
