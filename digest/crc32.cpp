// CRC-32 engine: reads a handle to its end in 32768-byte pieces and folds every byte in.
#include "crc32.h"

#include <stdio.h>
#include <string.h>

#include "cpu.h"
#include "crc32_fold.h"
#include "dump.h"
#include "frame.h"

namespace {

constexpr DWORD kReadSize = 32768;

/*
 * The reflected CRC-32: bit 0 of each byte is the highest power of x, so the register shifts
 * right and the polynomial 0x04C11DB7 appears bit-reversed as 0xEDB88320. crc32_table is the
 * classic byte-at-a-time table. Slice k gives the effect of a byte that still has k more zero
 * bytes to pass through the register, which lets the loop fold eight bytes with eight independent
 * lookups (slicing by 8) instead of eight dependent ones; the result is the same CRC.
 */
struct CrcTable {
    uint32_t t[256];
};

constexpr CrcTable make_byte_table()
{
    CrcTable table{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table.t[n] = c;
    }
    return table;
}

alignas(64) constexpr CrcTable crc32_table = make_byte_table();
static_assert(crc32_table.t[1] == 0x77073096u);
static_assert(crc32_table.t[255] == 0x2D02EF8Du);

// Slice 0 is a copy of crc32_table, so that the eight lookups of the fold read one array.
struct CrcSlices {
    uint32_t t[8][256];
};

constexpr CrcSlices make_slices()
{
    CrcSlices slices{};
    for (uint32_t n = 0; n < 256; n++)
        slices.t[0][n] = crc32_table.t[n];
    for (int k = 1; k < 8; k++)
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t prev = slices.t[k - 1][n];
            slices.t[k][n] = (prev >> 8) ^ crc32_table.t[prev & 0xFF];
        }
    return slices;
}

alignas(64) constexpr CrcSlices kSlices = make_slices();

inline uint32_t load_le32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4); // x86 is little-endian, as are the records
    return v;
}

} // namespace

uint32_t crc32_fold_table(uint32_t c, const uint8_t *p, size_t n)
{
    const auto &t = kSlices.t;
    while (n >= 8) {
        uint32_t lo = load_le32(p) ^ c;
        uint32_t hi = load_le32(p + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][hi & 0xFF] ^
            t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0)
        c = (c >> 8) ^ crc32_table.t[(c ^ *p++) & 0xFF];
    return c;
}

namespace {

// The fastest fold this processor offers; asked at every run, which costs one cached load.
using CrcFold = uint32_t (*)(uint32_t c, const uint8_t *p, size_t n);

CrcFold pick_fold()
{
    uint32_t features = cpu_features();
    if (features & CPU_VPCLMUL512)
        return crc32_fold_vpclmul512;
    if (features & CPU_CLMUL) {
        cpu_clean_upper(); // its code is legacy SSE
        return crc32_fold_clmul;
    }
    return crc32_fold_table;
}

} // namespace

CRC32_INFO *crc32_create(void) { return frame_create(crc32_init); }

int crc32_init(CRC32_INFO *info)
{
    if (info == nullptr)
        return RC_NULL_INFO;
    memset(info, 0, sizeof *info);
    return RC_OK;
}

int crc32_set_input(CRC32_INFO *info, HANDLE file_h) { return frame_set_input(info, file_h); }

int crc32_calc(CRC32_INFO *info)
{
    int rc = frame_begin_calc(info);
    if (rc != RC_OK)
        return rc;

    const CrcFold fold = pick_fold();
    alignas(64) uint8_t buffer[kReadSize]; // whole cache lines for the vector loads
    uint32_t c = 0xFFFFFFFFu;
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(info->input_h, buffer, kReadSize, &got, nullptr)) == TRUE && got > 0)
        c = fold(c, buffer, got);

    if (ok != TRUE) {
        info->stt = STT_READY; // the handle stays attached; crc keeps its old value
        return RC_READ_ERROR;
    }
    info->crc = c ^ 0xFFFFFFFFu;
    info->stt = STT_DONE;
    return RC_OK;
}

int crc32_get(const CRC32_INFO *info, uint32_t *out)
{
    int rc = frame_check_get(info, out);
    if (rc == RC_OK)
        *out = info->crc;
    return rc;
}

void crc32_free(CRC32_INFO *info) { frame_free(info); }

void crc32_dump(const CRC32_INFO *info)
{
    if (!dump_open("CRC32_INFO", info))
        return;
    dump_bytes("CRC32_INFO", info, sizeof *info);
    dump_header_fields(info, 9);
    dump_label("crc", 9, &info->crc);
    printf("%08x\n", static_cast<unsigned>(info->crc));
}
