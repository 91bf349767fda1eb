// MD5 (RFC 1321) of a file handle, read in 64-byte pieces.
#ifndef TAVRO_MD5_H
#define TAVRO_MD5_H

#include <stddef.h>
#include <stdint.h>

#include "digest.h"

struct MD5_INFO {
    HANDLE myheap_h;    // heap of md5_create, else null
    int32_t stt;        // STT_*
    HANDLE input_h;     // attached file; owned by the caller
    int32_t input_size; // low 32 bits of the file size at md5_set_input
    uint8_t buf[64];    // pending bytes of the current block
    uint32_t count[2];  // message length in bits mod 2^64, low word first
    uint32_t abcd[4];   // chaining state; the digest after a run
};
#ifdef _WIN32 // the 32-bit Windows layout; the Linux host test build has 64-bit handles
static_assert(sizeof(MD5_INFO) == 104);
static_assert(offsetof(MD5_INFO, input_size) == 12);
static_assert(offsetof(MD5_INFO, buf) == 16);
static_assert(offsetof(MD5_INFO, count) == 80);
static_assert(offsetof(MD5_INFO, abcd) == 88);
#endif

// New record from the process heap, initialised; null when the heap refuses.
MD5_INFO *md5_create(void);
// Zeroes the record, sets the RFC 1321 chaining values -> STT_CLEAR. RC_OK, RC_NULL_INFO.
int md5_init(MD5_INFO *info);
// Attaches an open handle and records the low 32 bits of its size in input_size
// (-1 when the size cannot be read) -> STT_READY. RC_OK, RC_NULL_INFO, RC_BUSY.
int md5_set_input(MD5_INFO *info, HANDLE file_h);
// Digests the file from the handle's position. A file below 2^31 bytes is read for exactly
// input_size bytes; a file of 2^31 bytes or more is read whole by its 64-bit size.
// (The record keeps only the low 32 bits: a file grown by an exact multiple of 4 GiB since the
// attach looks like the large file that was attached and is read whole.)
// RC_OK -> STT_DONE.
// RC_NO_INPUT: input_h is null or INVALID_HANDLE_VALUE; the record is unchanged.
// RC_READ_ERROR: the size could not be read at the attach or cannot be read now, the file's
//   size changed across 2 GiB since the attach, or a read failed or came back short;
//   the record stays STT_BUSY (a half-fed state is never finalised) until md5_init.
// RC_NULL_INFO, RC_BUSY leave the record unchanged.
int md5_calc(MD5_INFO *info);
// 16 digest bytes in STT_DONE. RC_OK; RC_NULL_INFO for a null record, or a null out when done;
// RC_NOT_DONE (out untouched).
int md5_get_digest(const MD5_INFO *info, uint8_t out[16]);
// 32 lower-case hex digits and a NUL (33 bytes) in STT_DONE. Codes as md5_get_digest.
int md5_get_string(const MD5_INFO *info, char out[33]);
// Gives an md5_create record back to its heap; null or a record without heap: nothing.
void md5_free(MD5_INFO *info);
// Debug text of the record on standard output.
void md5_dump(const MD5_INFO *info);

// Steps of the engine. Only the engine and its tests call them.
// Takes in len bytes: from file_h, or from mem when file_h is INVALID_HANDLE_VALUE.
// 1 when every byte arrived; 0 when a read failed or came back short.
int md5_update(MD5_INFO *info, HANDLE file_h, const uint8_t *mem, int32_t len);
// Appends padding and the length; abcd then holds the digest.
void md5_final(MD5_INFO *info);
// One RFC 1321 compression of a 64-byte block into abcd.
void md5_transform(MD5_INFO *info, const uint8_t block[64]);

#endif
