#include <allegro.h>

int main() { return 0; }
END_OF_MAIN()
