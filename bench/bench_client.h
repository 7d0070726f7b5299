// The client's modules at their start and its shared bitmaps for a 1024 x 768
// screen, as the client opens them (ServerCanvas and LocalCanvas paper).
#pragma once
#include <cstdlib>

#include "app/client.h"

struct BenchClient {
  BenchClient() {
    client_state_reset();
    if (!client_world_open(1024, 768)) abort();
  }
  ~BenchClient() {
    client_state_reset();
    client_world_close();
  }
};
