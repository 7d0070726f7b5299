#include "paint/engine_paths.h"

namespace {

// Whether the wide ways run here: a processor with AVX2, or a WebAssembly
// build with SIMD (which a browser without it does not load).
bool processor_has_avx2() {
#if defined(__wasm_simd128__) && defined(__SSE4_1__)
  return true;
#elif defined(__x86_64__) && defined(__GNUC__)
  // Also before the library's own start-up has looked at the processor.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

const bool avx2 = processor_has_avx2();

}  // namespace

EnginePaths engine_paths_chosen = ENGINE_FAST;
bool engine_wide_chosen = avx2;

void engine_set_paths(EnginePaths paths) {
  engine_paths_chosen = paths;
  engine_wide_chosen = paths == ENGINE_FAST && avx2;
}

void engine_paths_reset() { engine_set_paths(ENGINE_FAST); }
