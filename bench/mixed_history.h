// A generated board history of 2,000 strokes: all six tools in turn, 30 to 255
// points each on hand-like paths, colours and sizes across their ranges. The
// same bytes wherever it is built: the replay benchmark and the WebAssembly
// build's test draw it.
#pragma once
#include <vector>

#include "net/message.h"

constexpr int MIXED_HISTORY_STROKES = 2000;

// The history's strokes as encoded commands, appended to strokes (the caller frees them).
void make_mixed_history(std::vector<Message>* strokes);
