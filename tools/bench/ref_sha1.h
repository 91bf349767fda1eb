// A literal SHA-1 (FIPS 180-1) of a file handle: the yardstick for the SHA-1 engine's speed.
#ifndef TAVRO_BENCH_REF_SHA1_H
#define TAVRO_BENCH_REF_SHA1_H

#include <stdint.h>

#include <windows.h>

// Reads file_h to its end in 32768-byte pieces, moves the bytes into a 64-byte block one at a
// time and compresses each full block with the 80-word schedule and four loops of 20 steps.
// Stores the 20 digest bytes in out. 1 done, 0 read failed.
int ref_sha1_file(HANDLE file_h, uint8_t out[20]);

#endif
