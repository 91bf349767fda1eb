// CRC-32 (ISO-HDLC: reflected 0xEDB88320, init and final XOR 0xFFFFFFFF) of a file handle.
#ifndef TAVRO_CRC32_H
#define TAVRO_CRC32_H

#include <stddef.h>
#include <stdint.h>

#include "digest.h"

struct CRC32_INFO {
    HANDLE myheap_h; // heap of crc32_create, else null
    int32_t stt;     // STT_*
    HANDLE input_h;  // attached file; owned by the caller
    uint32_t crc;    // finished checksum; written only by a successful crc32_calc
};
#ifdef _WIN32 // the 32-bit Windows layout; the Linux host test build has 64-bit handles
static_assert(sizeof(CRC32_INFO) == 16);
static_assert(offsetof(CRC32_INFO, crc) == 12);
#endif

// New record from the process heap, initialised; null when the heap refuses.
CRC32_INFO *crc32_create(void);
// Zeroes the record (any state, STT_BUSY included) -> STT_CLEAR. RC_OK, RC_NULL_INFO.
int crc32_init(CRC32_INFO *info);
// Attaches an open handle (not validated; null allowed) -> STT_READY. RC_OK, RC_NULL_INFO, RC_BUSY.
int crc32_set_input(CRC32_INFO *info, HANDLE file_h);
// Reads the handle from its position to end of file in 32768-byte reads.
// RC_OK -> STT_DONE; RC_READ_ERROR -> STT_READY, crc unchanged, handle kept;
// RC_NULL_INFO, RC_BUSY, RC_NO_INPUT leave the record unchanged.
int crc32_calc(CRC32_INFO *info);
// Stores crc into *out in STT_DONE. RC_OK; RC_NULL_INFO for a null record, or a null out when
// done; RC_NOT_DONE (out untouched).
int crc32_get(const CRC32_INFO *info, uint32_t *out);
// Gives a crc32_create record back to its heap; null or a record without heap: nothing.
void crc32_free(CRC32_INFO *info);
// Debug text of the record on standard output.
void crc32_dump(const CRC32_INFO *info);

#endif
