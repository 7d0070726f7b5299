#include "ui/user_labels.h"

#include <allegro.h>
#include <cstdio>

#include "ui/dirty_list.h"
#include "session/roster.h"
#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/screen.h"

static int truncate_channel(float v) {
  int c = static_cast<int>(v);
  return c < 0 ? 0 : (c > 255 ? 255 : c);
}

void draw_user_labels() {
  if (!BackBuffer) return;
  const Roster& roster = board.roster;
  for (int id = 1; id <= roster.used; ++id) {
    if (!roster_exists(&roster, id)) continue;
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
