// What a drawing command costs every client to draw, estimated from its
// fields without drawing it. The server budgets each user's commands in these
// units; easel-load reports the cost that reaches the clients.
#pragma once
#include <cstddef>
#include <cstdint>

// Estimated microseconds of one core to draw the command whose type and
// payload are given; 0 for types that draw nothing. Never below the true cost
// by much: samples off the picture are charged as if they landed on it.
double draw_cost(int type, const uint8_t* payload, size_t length);

// The samples the stroke walk visits with this spacing (its per-segment cap
// included), from the path of the points alone.
double draw_cost_samples(const int16_t* xs, const int16_t* ys, int n, double spacing);
