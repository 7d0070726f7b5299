// The users present on the server, by one-byte id.
#pragma once
#include <cstdint>

constexpr int ROSTER_CAPACITY = 128;

struct UserRecord {
  char name[16];
  float red, green, blue;
  int16_t x, y;
};

struct Roster {
  UserRecord users[ROSTER_CAPACITY + 1];  // index 0 is never used
  int used;
};
extern Roster roster;

void roster_clear();
void roster_set_name(int id, const char* name);
void roster_remove(int id);
bool roster_exists(int id);
const char* roster_name(int id);
void roster_set_colour(int id, float red, float green, float blue);
void roster_set_position(int id, int16_t x, int16_t y);
int roster_find(const char* text);
void draw_user_labels();
// Every record zero and used 0, as at program start; for tests.
void roster_reset();
