// Pictures in BMP files, read into images and written from them: the
// background picture of the client and of easel-render, and easel-render's
// BMP output. Any file, however damaged, is only ever refused.
#pragma once
#include <cstddef>
#include <cstdint>

#include "paint/image.h"

// The widest and highest picture read; larger ones are refused.
constexpr int BMP_SIDE_MAX = 16384;

// Makes image (image_create) from the BMP file in bytes: palette, 16, 24 and
// 32 bits a pixel, rows from the bottom up or from the top down. 1 on success;
// 0 leaves the record empty.
int bmp_decode(Image* image, const uint8_t* bytes, size_t size);
// bmp_decode of the file at path.
int bmp_load(Image* image, const char* path);
// Writes image as a 24-bit BMP file. 1 on success, 0 on failure.
int bmp_save(const Image* image, const char* path);
