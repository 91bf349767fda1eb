// The CRC-32 register update over a run of bytes, one function per instruction-set level.
// Internal to the engine and its tests. Each takes the running register c (before the final
// complement) and returns it after the n bytes at p; all three give the same value for any input.
#ifndef TAVRO_CRC32_FOLD_H
#define TAVRO_CRC32_FOLD_H

#include <stddef.h>
#include <stdint.h>

// Slicing by 8 over crc32_table: every i686 processor.
uint32_t crc32_fold_table(uint32_t c, const uint8_t *p, size_t n);
// Carry-less multiplication on four 128-bit lanes: only when cpu_features() has CPU_CLMUL.
uint32_t crc32_fold_clmul(uint32_t c, const uint8_t *p, size_t n);
// The same on four 512-bit lanes: only when cpu_features() has CPU_VPCLMUL512.
uint32_t crc32_fold_vpclmul512(uint32_t c, const uint8_t *p, size_t n);

#endif
