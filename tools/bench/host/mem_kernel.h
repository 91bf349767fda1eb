// The host benchmark's stand-in kernel: one in-memory file behind a handle, read by plain copies,
// so that the time measured is the reader's own.
#ifndef TAVRO_BENCH_MEM_KERNEL_H
#define TAVRO_BENCH_MEM_KERNEL_H

#include <windows.h>

#include <stdint.h>

// A HANDLE is a MEM_FILE *. ReadFile copies from data at pos and advances it; it keeps the
// largest count asked for, so that a case can be shown to read like the engine it is compared with.
struct MEM_FILE {
    const uint8_t *data;
    uint64_t size;
    uint64_t pos;
    DWORD largest_request; // since the last mem_file_rewind
};

// A fresh open of the file: position 0, no requests yet.
void mem_file_rewind(MEM_FILE *file);

#endif
