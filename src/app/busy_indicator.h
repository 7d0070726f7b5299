// The bar at the top centre of the screen that moves while our commands wait
// for the server's acknowledgement, also while held for a rejoin.
#pragma once

constexpr int BUSY_BAR_WIDTH = 60;
constexpr int BUSY_BAR_HEIGHT = 4;

// One frame of the bar: advances and draws it into BackBuffer while commands
// are pending, erases it once when nothing is pending any more.
void busy_indicator_step();
