// Runs every unit test with Allegro started headless: memory bitmaps, blits and
// the colour conversions work without any display. --engine-paths=reference
// draws everything the engine's reference ways, as the fast ways draw it.
#include <allegro.h>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/client.h"
#include "paint/engine_paths.h"
#include "paint/image.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const bool reference = argc > 1 && std::strcmp(argv[1], "--engine-paths=reference") == 0;
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
    fprintf(stderr, "cannot start Allegro headless\n");
    return 1;
  }
  set_color_depth(32);
  // The 32-bit layout the client finds on a display of 24 or 32 bits, where
  // the library's bitmaps hold the engine's pixels as they are.
  _rgb_r_shift_32 = PIXEL_RED_SHIFT;
  _rgb_g_shift_32 = PIXEL_GREEN_SHIFT;
  _rgb_b_shift_32 = PIXEL_BLUE_SHIFT;
  // Every test starts as the program does, the session's hooks registered.
  client_state_reset();
  if (reference) engine_set_paths(ENGINE_REFERENCE);
  return RUN_ALL_TESTS();
}
END_OF_MAIN()
