// The painter's input as the frame loop takes it. The graphics library
// reports every button change, pointer move and key on its input thread (a
// repeated key on its timer thread); our callbacks record each button change
// and key with the pointer position and modifier keys of that moment, in the
// order they happened, and wake the loop. So a click shorter than a frame is
// not lost, a press and its release in one frame still reach two frames, and
// both land where they happened, however far the pointer has gone since.
#pragma once
#include "app/client.h"

// Installs the callbacks. Keys waiting in the library's buffer are taken over
// first; from now on every key comes here and the buffer stays empty.
void input_events_start();
void input_events_stop();

// One frame's input. With nothing recorded: the devices as last reported, no
// key. Else the next key, then the button change right after it if there is
// one, or a button change alone (a key after it waits for the next frame);
// the frame sees the pointer and the modifiers of that change's moment, or
// after a key alone those of the key's moment while more waits, else the
// devices as last reported.
FrameInput input_events_take();
// Whether something recorded is still to be taken.
bool input_events_waiting();

// Callbacks removed, nothing recorded, the devices all at rest; for tests.
void input_events_reset();
