// Random drawings, drawn the engine's reference ways and its fast ways. Plain
// engine code, so that the WebAssembly build's test (tests/wasm) takes it too.
#pragma once
#include <string>

namespace testsupport {

// Random strokes of every tool, size, colour and path, from anywhere in the
// random stream, drawn the reference ways and the fast ways: the same pixels
// and the same draws. Paths on the picture, across its edges, far off it and
// over the whole 16-bit range, with repeated points, and long enough to fill
// the sample buffer; pictures of odd sizes. Then single soft discs and smudge
// steps at any coverage, drags near whole pixels, centres on corners; the
// curve search's samples on random curves and on one folded back along
// itself; and the paper.
// Empty when every drawing gave the same bits both ways; else the first that did not.
std::string random_drawings_differ();

}  // namespace testsupport
