#include "app/client.h"

volatile bool quit_requested = false;
int busy_counter = 0;
