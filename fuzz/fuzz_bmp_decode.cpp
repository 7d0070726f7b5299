// bmp_decode on any bytes, as a damaged or hostile background picture: it is
// refused, leaving the record empty, or read at a size within the limits with
// every pixel's spare byte clear.
#include <cstdint>
#include <cstdlib>

#include "paint/bmp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Image image;
  if (!bmp_decode(&image, data, size)) {
    if (image.pixels || image.w || image.h) abort();
    return 0;
  }
  if (image.w < 1 || image.h < 1 || image.w > BMP_SIDE_MAX || image.h > BMP_SIDE_MAX || image.stride != image.w)
    abort();
  for (int y = 0; y < image.h; ++y)
    for (int x = 0; x < image.w; ++x)
      if (image_row(&image, y)[x] >> 24) abort();
  image_destroy(&image);
  return 0;
}
