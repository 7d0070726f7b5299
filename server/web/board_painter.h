// The picture of the board for the web side, drawn with the client's engine.
// The engine keeps process-wide state (the random stream, the point list), so
// a process may have one painter only, and only the thread that created it
// may use it: the relay loop never includes the engine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct BoardPainter;

// Makes a canvas on the paper. Returns nullptr when the engine is already
// claimed in this process or memory runs out.
BoardPainter* painter_create();
void painter_destroy(BoardPainter* p);
// Back to the empty paper.
int painter_reset(BoardPainter* p);
// Draws the complete frames of bytes in order, as a client does; returns how
// many bytes they took (a torn tail is left for later).
size_t painter_apply(BoardPainter* p, const uint8_t* bytes, size_t length);
// The picture as PNG.
int painter_png(BoardPainter* p, std::string* out);
// The digest of the picture (paint/image.h).
uint64_t painter_digest(BoardPainter* p);
// The picture becomes the PNG's, which must be of the board's size and have
// the digest given. 0 leaves the painter on the paper.
int painter_load_png(BoardPainter* p, const uint8_t* png, size_t length, uint64_t digest);
