// Shared frame of the digest engines: record states, result codes and the large-file test.
#ifndef TAVRO_DIGEST_H
#define TAVRO_DIGEST_H

#include <windows.h>

// Record states, kept in every record's `stt`.
enum {
    STT_CLEAR = 0, // just initialised: no input, no result
    STT_DONE = 1,  // a run finished; the result can be fetched
    STT_READY = 2, // input attached, no result available
    STT_BUSY = 9   // set_input or calc under way, or a failed run that needs init
};

// Result codes of every engine operation; success is exactly RC_OK, there is no 0.
enum {
    RC_OK = 1,
    RC_NULL_INFO = 2,  // the record pointer is null
    RC_BUSY = 3,       // the record is in STT_BUSY
    RC_READ_ERROR = 4, // reading the input failed (or, for MD5, its size is unknown)
    RC_NOT_DONE = 5,   // a result was asked for while stt is not STT_DONE
    RC_NO_INPUT = 6,   // calc without a usable input handle
    RC_SHA1_ERROR = 7  // sha1_calc only: input after finalisation, or a bit count past 64 bits
};

// 1 when the file behind `file_h` is 2^31 bytes or larger, else 0. A file whose size
// cannot be read (a bad handle, a pipe) answers 0.
int is_large_file(HANDLE file_h);

#endif
