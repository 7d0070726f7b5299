#include "session/roster.h"

#include <cstring>

#include "base/log.h"
#include "net/message.h"

namespace {

bool roster_present(const Roster* r, int id) {
  return id >= 1 && id <= r->used && r->users[id].name[0] != '\0';
}

bool prefix_matches(const char* text, const char* name) {
  for (; *text; ++text, ++name) {
    if (!*name) return false;
    if (ascii_lower(static_cast<unsigned char>(*text)) != ascii_lower(static_cast<unsigned char>(*name)))
      return false;
  }
  return true;
}

}  // namespace

void roster_clear(Roster* r) { r->used = 0; }

void roster_reset(Roster* r) { memset(r, 0, sizeof *r); }

void roster_set_name(Roster* r, int id, const char* name) {
  if (!name || id <= 0 || id > ROSTER_CAPACITY) return;
  // Records coming into range are free; their colour and position stay.
  while (r->used < id) r->users[++r->used].name[0] = '\0';
  UserRecord& u = r->users[id];
  strncpy(u.name, name, sizeof u.name - 1);
  u.name[sizeof u.name - 1] = '\0';
}

void roster_remove(Roster* r, int id) {
  if (roster_present(r, id)) r->users[id].name[0] = '\0';
}

bool roster_exists(const Roster* r, int id) { return roster_present(r, id); }

const char* roster_name(const Roster* r, int id) {
  if (roster_present(r, id)) return r->users[id].name;
  log_write(LOG_DEBUG, "Requested name of invalid user (%d)", id);
  return nullptr;
}

void roster_set_colour(Roster* r, int id, float red, float green, float blue) {
  if (!roster_present(r, id)) {
    log_write(LOG_DEBUG, "Requested set colour of invalid user (%d)", id);
    return;
  }
  UserRecord& u = r->users[id];
  u.red = red;
  u.green = green;
  u.blue = blue;
}

void roster_set_position(Roster* r, int id, int16_t x, int16_t y) {
  if (!roster_present(r, id)) {
    log_write(LOG_DEBUG, "Requested set position of invalid user (%d)", id);
    return;
  }
  r->users[id].x = x;
  r->users[id].y = y;
}

int roster_find(const Roster* r, const char* text) {
  if (!text) return 0;
  int found = 0;
  for (int id = 1; id <= r->used; ++id) {
    if (!roster_present(r, id) || !prefix_matches(text, r->users[id].name)) continue;
    if (found) return 0;
    found = id;
  }
  return found;
}
