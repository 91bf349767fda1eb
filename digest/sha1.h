// SHA-1 (FIPS 180-1, RFC 3174) of a file handle, read in 32768-byte pieces.
#ifndef TAVRO_SHA1_H
#define TAVRO_SHA1_H

#include <stddef.h>
#include <stdint.h>

#include "digest.h"

// Codes of sha1_input and sha1_result, and the values of `corrupted`.
enum {
    SHA_OK = 0,
    SHA_NULL = 1,       // null record or source; returned, never stored
    SHA_TOO_LONG = 2,   // the bit count passed 64 bits
    SHA_STATE_ERROR = 3 // input after finalisation
};

struct SHA1_INFO {
    HANDLE myheap_h;        // heap of sha1_create, else null
    int32_t stt;            // STT_*
    HANDLE input_h;         // attached file; owned by the caller
    uint8_t msg_digest[20]; // H0..H4, most significant byte first
    uint32_t inter_hash[5]; // chaining words
    uint32_t length_low;    // message length in bits, low word
    uint32_t length_high;   // and high word
    int16_t block_index;    // bytes held in msg_block
    uint8_t msg_block[512]; // only the first 64 bytes are used
    int32_t computed;       // 1 once finalised
    int32_t corrupted;      // SHA_OK or the code that spoilt the state
};
#ifdef _WIN32 // the 32-bit Windows layout; the Linux host test build has 64-bit handles
static_assert(sizeof(SHA1_INFO) == 584);
static_assert(offsetof(SHA1_INFO, msg_digest) == 12);
static_assert(offsetof(SHA1_INFO, inter_hash) == 32);
static_assert(offsetof(SHA1_INFO, length_low) == 52);
static_assert(offsetof(SHA1_INFO, length_high) == 56);
static_assert(offsetof(SHA1_INFO, block_index) == 60);
static_assert(offsetof(SHA1_INFO, msg_block) == 62);
static_assert(offsetof(SHA1_INFO, computed) == 576);
static_assert(offsetof(SHA1_INFO, corrupted) == 580);
#endif

// New record from the process heap, initialised; null when the heap refuses.
SHA1_INFO *sha1_create(void);
// Zeroes the record, sets H0..H4 -> STT_CLEAR. RC_OK, RC_NULL_INFO.
int sha1_init(SHA1_INFO *info);
// Attaches an open handle (not validated) -> STT_READY. RC_OK, RC_NULL_INFO, RC_BUSY.
int sha1_set_input(SHA1_INFO *info, HANDLE file_h);
// Reads the handle to end of file and finalises. RC_OK -> STT_DONE;
// RC_READ_ERROR, RC_SHA1_ERROR -> stays STT_BUSY until sha1_init;
// RC_NULL_INFO, RC_BUSY, RC_NO_INPUT leave the record unchanged.
int sha1_calc(SHA1_INFO *info);
// 20 digest bytes in STT_DONE. RC_OK; RC_NULL_INFO for a null record, or a null out when done;
// RC_NOT_DONE (out untouched).
int sha1_get_digest(const SHA1_INFO *info, uint8_t out[20]);
// 40 lower-case hex digits and a NUL (41 bytes) in STT_DONE. Codes as sha1_get_digest.
int sha1_get_string(const SHA1_INFO *info, char out[41]);
// Gives a sha1_create record back to its heap; null or a record without heap: nothing.
void sha1_free(SHA1_INFO *info);
// Debug text of the record on standard output.
void sha1_dump(const SHA1_INFO *info);

// Steps of the engine. Only the engine and its tests call them.
// Takes count bytes; SHA_OK also when this call set `corrupted` (the rest of the call is dropped).
int sha1_input(SHA1_INFO *info, const uint8_t *src, uint32_t count);
// Finalises once (pad, wipe block and lengths), then writes msg_digest.
int sha1_result(SHA1_INFO *info);
// Appends 0x80, zeros and the 64-bit length; compresses the last block or two.
void sha1_pad(SHA1_INFO *info);
// Compresses the 64 bytes of msg_block into inter_hash; block_index = 0.
void sha1_process_block(SHA1_INFO *info);

#endif
