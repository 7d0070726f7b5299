#include "app/client.h"

BITMAP* SamplePicture = nullptr;
BITMAP* BackBuffer = nullptr;
BITMAP* ServerCanvas = nullptr;
BITMAP* LocalCanvas = nullptr;
BITMAP* StrokeLayer = nullptr;
BITMAP* ToolbarStrip = nullptr;
BITMAP* CursorSprite = nullptr;

volatile bool quit_requested = false;
bool net_available = false;
int button_edge = 0;
int busy_counter = 0;
