#include "app/input_events.h"

#include <allegro.h>

#include <mutex>

#include "app/input_wait.h"

namespace {

// Recorded and not yet taken; when full, newer events are dropped, as the
// library's own key buffer does, and the devices' state still follows.
constexpr int CAPACITY = 256;
constexpr int BUTTON_CHANGES = MOUSE_FLAG_LEFT_DOWN | MOUSE_FLAG_LEFT_UP | MOUSE_FLAG_RIGHT_DOWN |
                               MOUSE_FLAG_RIGHT_UP;

std::mutex lock;
FrameInput events[CAPACITY];
int first = 0;
int count = 0;
FrameInput devices = {};  // as last reported; its key is always 0

void push(const FrameInput& event) {
  if (count == CAPACITY) return;
  events[(first + count) % CAPACITY] = event;
  ++count;
}

FrameInput pop() {
  FrameInput event = events[first];
  first = (first + 1) % CAPACITY;
  --count;
  return event;
}

void read_modifiers(FrameInput* in) {
  in->ctrl = key[KEY_LCONTROL] || key[KEY_RCONTROL];
  in->shift = key[KEY_LSHIFT] || key[KEY_RSHIFT];
  in->alt = key[KEY_ALT] != 0;
}

// The library has updated mouse_x, mouse_y and mouse_b before calling this.
void on_mouse(int flags) {
  {
    std::lock_guard<std::mutex> hold(lock);
    devices.buttons = mouse_b;
    devices.mouse_x = mouse_x;
    devices.mouse_y = mouse_y;
    read_modifiers(&devices);
    if (flags & BUTTON_CHANGES) push(devices);
  }
  input_wake();
}

// Every press and release, modifiers too: key[] already holds the change.
void on_key_change(int) {
  {
    std::lock_guard<std::mutex> hold(lock);
    read_modifiers(&devices);
  }
  input_wake();
}

// Returning 0 keeps the key out of the library's buffer.
int on_key(int value) {
  if (value == 0) return 0;
  {
    std::lock_guard<std::mutex> hold(lock);
    FrameInput event = devices;
    read_modifiers(&event);
    event.key = value;
    push(event);
  }
  input_wake();
  return 0;
}

}  // namespace

void input_events_start() {
  // Held while installing and taking over, so a key that comes meanwhile is
  // recorded after the older ones.
  std::lock_guard<std::mutex> hold(lock);
  keyboard_lowlevel_callback = on_key_change;
  keyboard_callback = on_key;
  mouse_callback = on_mouse;
  devices = {0, mouse_b, mouse_x, mouse_y, false, false, false, 0.0};
  read_modifiers(&devices);
  while (keypressed()) {
    FrameInput event = devices;
    event.key = readkey();
    if (event.key != 0) push(event);
  }
}

void input_events_stop() {
  mouse_callback = nullptr;
  keyboard_callback = nullptr;
  keyboard_lowlevel_callback = nullptr;
}

FrameInput input_events_take() {
  std::lock_guard<std::mutex> hold(lock);
  if (count == 0) return devices;
  FrameInput taken = pop();
  if (taken.key == 0) return taken;
  if (count > 0 && events[first].key == 0) {
    FrameInput change = pop();
    change.key = taken.key;
    return change;
  }
  if (count > 0) return taken;
  FrameInput now = devices;
  now.key = taken.key;
  return now;
}

bool input_events_waiting() {
  std::lock_guard<std::mutex> hold(lock);
  return count > 0;
}

void input_events_reset() {
  input_events_stop();
  std::lock_guard<std::mutex> hold(lock);
  first = count = 0;
  devices = {};
}
