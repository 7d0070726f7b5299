// The deterministic random source: two Mersenne-Twister-style streams with a
// 1000-word state. Every client must produce exactly the same sequences.
#pragma once
#include <cstdint>

constexpr uint32_t DEFAULT_RANDOM_SEED = 685171217u;  // 0x28D6E211

// A draw d as a real number in [0, 1] (both ends reachable) is d / 4294967295,
// formed as one multiplication by this constant; a scaled draw k * u uses the
// single constant k / 4294967295 in the same way.
constexpr double RANDOM_UNIT = 1.0 / 4294967295.0;
inline double random_unit(uint32_t d) { return d * RANDOM_UNIT; }

// Stream numbers.
constexpr int LOCAL_STREAM = 0;
constexpr int COMMAND_STREAM = 1;

// Seeds the selected stream (seed 0 means DEFAULT_RANDOM_SEED).
void seedRandom(uint32_t seed);
// Selects the command stream and seeds it with seed (0: the default seed).
void useCommandStream(uint32_t seed);
// Selects the local stream again.
void useLocalStream();
// The selected stream's outputs still to hand out, tempered in bulk when its
// state is regenerated (both null while it has none ready). Renderers draw in
// their innermost loops, so the common draw is inline.
struct RandomCursor {
  const uint32_t* next;
  const uint32_t* end;
};
// Per thread, like every piece of the engine's scratch state, so two threads
// can draw at once. __thread rather than thread_local: it promises a constant
// initialiser, so other files reach it without a call to an initialisation check.
extern __thread RandomCursor RandomReady;
// The most outputs a stream has ready at once.
constexpr unsigned RANDOM_READY_MAX = 1000;
// The outputs ready now, for loops that work out several draws' uses at once:
// they read ahead here, then take exactly the ones they used. The cursor must
// not move in between.
inline unsigned random_ready(const uint32_t** draws) {
  *draws = RandomReady.next;
  return static_cast<unsigned>(RandomReady.end - RandomReady.next);
}
inline void random_take_ready(unsigned count) {
  if (count) RandomReady.next += count;
}
// nextRandom once the ready outputs are used up.
uint32_t nextRandomRefill();

// Next 32-bit output of the selected stream.
inline uint32_t nextRandom() {
  if (RandomReady.next != RandomReady.end) return *RandomReady.next++;
  return nextRandomRefill();
}
// The next count outputs of the selected stream, exactly as count calls of
// nextRandom would give them; for loops that draw in bulk.
void nextRandomBlock(uint32_t* out, unsigned count);

// The selected stream number and a stream's position (0..1001), for tests.
int random_selected_stream();
unsigned random_position(int stream);
// The calling thread's source back to the start-up state: local stream selected,
// both streams unseeded.
void random_reset();
