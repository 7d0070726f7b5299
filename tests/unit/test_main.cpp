// Runs every unit test with Allegro started headless: memory bitmaps, blits and
// the colour conversions work without any display.
#include <allegro.h>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstdlib>

#include "app/client.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
    fprintf(stderr, "cannot start Allegro headless\n");
    return 1;
  }
  set_color_depth(32);
  // Every test starts as the program does, the session's hooks registered.
  client_state_reset();
  return RUN_ALL_TESTS();
}
END_OF_MAIN()
