// The C runtime's random generator of the platform the scene was tuned on, so
// every host draws the same sequence from the same seed.
#pragma once
#include <cstdint>

constexpr int CRT_RAND_MAX = 32767;

// Restarts the sequence; the state before the first call is as after crt_srand(1).
void crt_srand(uint32_t seed);
// Next number of the sequence, 0..CRT_RAND_MAX.
int crt_rand();
