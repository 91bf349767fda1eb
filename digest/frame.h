// The parts of the operations that every engine shares, written once for the three record types.
#ifndef TAVRO_FRAME_H
#define TAVRO_FRAME_H

#include <stdint.h>

#include "digest.h"

// A new record from the process heap, run through the engine's init; null when the heap refuses.
template <class Info> Info *frame_create(int (*init)(Info *))
{
    HANDLE heap_h = GetProcessHeap();
    Info *info = static_cast<Info *>(HeapAlloc(heap_h, 0, sizeof(Info)));
    if (info == nullptr)
        return nullptr;
    init(info);
    info->myheap_h = heap_h; // after init, which clears it
    return info;
}

// Attaches the handle; the engine's own attach step, if any, runs while the record is busy.
template <class Info> int frame_set_input(Info *info, HANDLE file_h, void (*attach)(Info *) = nullptr)
{
    if (info == nullptr)
        return RC_NULL_INFO;
    if (info->stt == STT_BUSY)
        return RC_BUSY;
    info->stt = STT_BUSY;
    info->input_h = file_h;
    if (attach != nullptr)
        attach(info);
    info->stt = STT_READY;
    return RC_OK;
}

// The entry tests of calc, in their fixed order; on RC_OK the run has begun and stt is STT_BUSY.
// `unusable` names one more handle value that counts as no input.
template <class Info> int frame_begin_calc(Info *info, HANDLE unusable = nullptr)
{
    if (info == nullptr)
        return RC_NULL_INFO;
    if (info->stt == STT_BUSY)
        return RC_BUSY;
    if (info->input_h == nullptr || info->input_h == unusable)
        return RC_NO_INPUT;
    info->stt = STT_BUSY;
    return RC_OK;
}

// The tests of every getter: RC_OK when the result may be written. A null output is answered
// like a null record, after the state test, so a record that is not done still says so.
template <class Info> int frame_check_get(const Info *info, const void *out)
{
    if (info == nullptr)
        return RC_NULL_INFO;
    if (info->stt != STT_DONE)
        return RC_NOT_DONE;
    return out != nullptr ? RC_OK : RC_NULL_INFO;
}

// Gives a created record back to its heap; a record that names no heap is left alone.
template <class Info> void frame_free(Info *info)
{
    if (info == nullptr || info->myheap_h == nullptr)
        return;
    HeapFree(info->myheap_h, 0, info);
}

// Lower-case hexadecimal text of `count` bytes and a NUL: 2 * count + 1 characters.
inline void frame_hex(const uint8_t *bytes, int count, char *out)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < count; i++) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    out[2 * count] = '\0';
}

inline uint32_t rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

#endif
