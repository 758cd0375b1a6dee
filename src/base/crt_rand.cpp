// One linear congruential sequence shared by the whole program, with the
// multiplier and increment of the Microsoft C runtime. The state wraps modulo
// 2^32 by unsigned arithmetic; the result is bits 16..30 of the new state.
#include "base/crt_rand.h"

static uint32_t s_rand_state = 1;

void crt_srand(uint32_t seed)
{
    s_rand_state = seed;
}

int crt_rand()
{
    s_rand_state = s_rand_state * 214013u + 2531011u;
    return static_cast<int>((s_rand_state >> 16) & 0x7FFF);
}
