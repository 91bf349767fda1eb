// SHA-1 compression of whole 64-byte blocks into the chaining words, one function per
// instruction-set level. Internal to the engine and its tests; both give the same words.
#ifndef TAVRO_SHA1_BLOCK_H
#define TAVRO_SHA1_BLOCK_H

#include <stddef.h>
#include <stdint.h>

// Plain 32-bit integer code: every i686 processor.
void sha1_compress_portable(uint32_t h[5], const uint8_t *data, size_t blocks);
// The SHA extensions: only when cpu_features() has CPU_SHA.
void sha1_compress_shaext(uint32_t h[5], const uint8_t *data, size_t blocks);

#endif
