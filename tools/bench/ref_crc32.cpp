// The plainest table CRC-32 loop, so the engine's speed can be judged against it.
#include "ref_crc32.h"

#include <array>

namespace {

constexpr DWORD kReadSize = 32768;

// Entry n is n run through eight shift steps of the reflected polynomial: a byte at a time.
constexpr std::array<uint32_t, 256> make_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = make_table();
static_assert(kTable[1] == 0x77073096u);
static_assert(kTable[255] == 0x2D02EF8Du);

} // namespace

int ref_crc32_file(HANDLE file_h, uint32_t *out)
{
    uint8_t buf[kReadSize];
    uint32_t c = 0xFFFFFFFFu;
    DWORD n = 0;
    BOOL ok;
    while ((ok = ReadFile(file_h, buf, kReadSize, &n, nullptr)) && n > 0) {
        for (DWORD i = 0; i < n; i++)
            c = (c >> 8) ^ kTable[(c ^ buf[i]) & 0xFF];
    }
    if (!ok)
        return 0;
    *out = c ^ 0xFFFFFFFFu;
    return 1;
}
