#include "paint/engine_paths.h"

EnginePaths engine_paths_chosen = ENGINE_FAST;

void engine_set_paths(EnginePaths paths) { engine_paths_chosen = paths; }

void engine_paths_reset() { engine_paths_chosen = ENGINE_FAST; }

bool engine_wide() {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return engine_fast() && avx2;
#else
  return false;
#endif
}
