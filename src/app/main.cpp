#include <allegro.h>

#include "app/client.h"

int main() { return client_main(); }
END_OF_MAIN()
