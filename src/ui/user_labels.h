// Who painted where: each present user's id and name at the start of their
// latest stroke, in its colour (the session's roster, session/roster.h).
#pragma once

// One label per present user over BackBuffer, in id order, each marked dirty.
void draw_user_labels();
