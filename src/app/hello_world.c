#include "app/hello_world.h"

#include <stdio.h>

int hello_world_c(void) {
    puts("Utilizing C code.");
    return 0;
}
