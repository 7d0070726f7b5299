#include "ui/roster.h"

#include <allegro.h>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "net/message.h"
#include "paint/dirty_rect.h"
#include "ui/bitmap_image.h"
#include "ui/screen.h"

Roster roster = {};

void roster_clear() { roster.used = 0; }

void roster_reset() {
  memset(&roster, 0, sizeof roster);
  labels_shown = false;
}

static bool roster_present(int id) {
  return id >= 1 && id <= roster.used && roster.users[id].name[0] != '\0';
}

void roster_set_name(int id, const char* name) {
  if (!name || id <= 0 || id > ROSTER_CAPACITY) return;
  // Records coming into range are free; their colour and position stay.
  while (roster.used < id) roster.users[++roster.used].name[0] = '\0';
  UserRecord& u = roster.users[id];
  strncpy(u.name, name, sizeof u.name - 1);
  u.name[sizeof u.name - 1] = '\0';
}

void roster_remove(int id) {
  if (roster_present(id)) roster.users[id].name[0] = '\0';
}

bool roster_exists(int id) { return roster_present(id); }

const char* roster_name(int id) {
  if (roster_present(id)) return roster.users[id].name;
  log_write(LOG_DEBUG, "Requested name of invalid user (%d)", id);
  return nullptr;
}

void roster_set_colour(int id, float red, float green, float blue) {
  if (!roster_present(id)) {
    log_write(LOG_DEBUG, "Requested set colour of invalid user (%d)", id);
    return;
  }
  UserRecord& u = roster.users[id];
  u.red = red;
  u.green = green;
  u.blue = blue;
}

void roster_set_position(int id, int16_t x, int16_t y) {
  if (!roster_present(id)) {
    log_write(LOG_DEBUG, "Requested set position of invalid user (%d)", id);
    return;
  }
  roster.users[id].x = x;
  roster.users[id].y = y;
}

static bool prefix_matches(const char* text, const char* name) {
  for (; *text; ++text, ++name) {
    if (!*name) return false;
    if (ascii_lower(static_cast<unsigned char>(*text)) != ascii_lower(static_cast<unsigned char>(*name)))
      return false;
  }
  return true;
}

int roster_find(const char* text) {
  if (!text) return 0;
  int found = 0;
  for (int id = 1; id <= roster.used; ++id) {
    if (!roster_present(id) || !prefix_matches(text, roster.users[id].name)) continue;
    if (found) return 0;
    found = id;
  }
  return found;
}

static int truncate_channel(float v) {
  int c = static_cast<int>(v);
  return c < 0 ? 0 : (c > 255 ? 255 : c);
}

void draw_user_labels() {
  if (!BackBuffer) return;
  for (int id = 1; id <= roster.used; ++id) {
    if (!roster_present(id)) continue;
    const UserRecord& u = roster.users[id];
    char label[64];
    snprintf(label, sizeof label, "%d:%s", id, u.name);
    const int tw = text_length(font, label), th = text_height(font);
    const int16_t x = static_cast<int16_t>(u.x + ox - tw / 2 - 1);
    const int16_t y = static_cast<int16_t>(u.y + oy - th / 2 - 1);
    const int outline = contrast_colour(u.red, u.green, u.blue);
    textout_ex(BackBuffer, font, label, x, y + 1, outline, -1);
    textout_ex(BackBuffer, font, label, x + 1, y, outline, -1);
    textout_ex(BackBuffer, font, label, x + 2, y + 1, outline, -1);
    textout_ex(BackBuffer, font, label, x + 1, y + 2, outline, -1);
    const int colour =
        bitmap_colour(truncate_channel(u.red), truncate_channel(u.green), truncate_channel(u.blue));
    textout_ex(BackBuffer, font, label, x + 1, y + 1, colour, -1);
    add_dirty_rect(DirtyRect{x, y, static_cast<int16_t>(tw + 2), static_cast<int16_t>(th + 2)});
  }
}
