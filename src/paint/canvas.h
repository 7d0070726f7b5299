// The shared picture's size and its empty state.
#pragma once
#include <allegro.h>
#include <cstdint>

constexpr uint16_t CANVAS_WIDTH = 912;
constexpr uint16_t CANVAS_HEIGHT = 684;

// Gives a 32-bit bitmap its empty state: "bg.bmp" from the working directory
// when it loads, otherwise the generated paper texture.
void resetCanvas(BITMAP* bmp);
// The generated paper texture alone, whatever lies in the working directory.
void paintPaper(BITMAP* bmp);
