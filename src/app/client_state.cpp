#include "app/client.h"

std::atomic<bool> quit_requested{false};
int busy_counter = 0;
