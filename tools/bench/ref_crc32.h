// A plain byte-wise CRC-32 of a file handle: the yardstick for the CRC-32 engine's speed.
#ifndef TAVRO_BENCH_REF_CRC32_H
#define TAVRO_BENCH_REF_CRC32_H

#include <stdint.h>

#include <windows.h>

// Reads file_h to its end in 32768-byte pieces, one table lookup per byte, and stores the
// CRC-32 (reflected 0xEDB88320, init and final XOR 0xFFFFFFFF) in *out. 1 done, 0 read failed.
int ref_crc32_file(HANDLE file_h, uint32_t *out);

#endif
