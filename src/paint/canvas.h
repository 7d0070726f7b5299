// The shared picture's size and its empty state.
#pragma once
#include <cstdint>

#include "paint/image.h"

constexpr uint16_t CANVAS_WIDTH = 912;
constexpr uint16_t CANVAS_HEIGHT = 684;

// Gives an image its empty state: "bg.bmp" from the working directory
// when it loads, otherwise the generated paper texture.
void resetCanvas(Image* image);
// Whether resetCanvas may start from "bg.bmp" rather than the paper: the file
// can be opened.
bool canvasHasBackground();
// The generated paper texture alone, whatever lies in the working directory.
void paintPaper(Image* image);
