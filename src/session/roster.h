// The users present on the board, by one-byte id: names, and the colour and
// first point of each user's latest stroke (where the labels go).
#pragma once
#include <cstdint>

#include "net/wire_limits.h"

constexpr int ROSTER_CAPACITY = MAX_USERS;

struct UserRecord {
  char name[MAX_NAME_CHARS + 1];
  float red, green, blue;
  int16_t x, y;
};

struct Roster {
  UserRecord users[ROSTER_CAPACITY + 1];  // index 0 is never used
  int used;                               // ids 1..used may be present
};

// Nobody present; colours and positions stay for ids that come back.
void roster_clear(Roster* r);
// Every record zero and used 0, as at the start.
void roster_reset(Roster* r);
void roster_set_name(Roster* r, int id, const char* name);
void roster_remove(Roster* r, int id);
bool roster_exists(const Roster* r, int id);
// The name of a present id, else null.
const char* roster_name(const Roster* r, int id);
void roster_set_colour(Roster* r, int id, float red, float green, float blue);
void roster_set_position(Roster* r, int id, int16_t x, int16_t y);
// The one present id whose name starts with text (letters in either case);
// 0 when none or several do.
int roster_find(const Roster* r, const char* text);
