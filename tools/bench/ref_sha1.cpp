// SHA-1 written straight from FIPS 180-1 with no tuning, so the engine's speed can be judged against it.
#include "ref_sha1.h"

namespace {

constexpr DWORD kReadSize = 32768;
constexpr uint32_t kInit[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
constexpr uint32_t kK[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};

struct REF_SHA1 {
    uint32_t h[5];
    uint8_t block[64];
    int index;      // bytes held in block
    uint64_t bytes; // message length so far
};

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load_be32(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// The compression function as the standard states it: expand the 16 block words to 80, then
// 80 steps in four groups of 20, each group with its own function f and constant K.
void compress(REF_SHA1 *s)
{
    uint32_t w[80];
    for (int t = 0; t < 16; t++)
        w[t] = load_be32(s->block + 4 * t);
    for (int t = 16; t < 80; t++)
        w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    uint32_t a = s->h[0], b = s->h[1], c = s->h[2], d = s->h[3], e = s->h[4];
    for (int t = 0; t < 20; t++) {
        uint32_t temp = rotl(a, 5) + ((b & c) | (~b & d)) + e + w[t] + kK[0];
        e = d, d = c, c = rotl(b, 30), b = a, a = temp;
    }
    for (int t = 20; t < 40; t++) {
        uint32_t temp = rotl(a, 5) + (b ^ c ^ d) + e + w[t] + kK[1];
        e = d, d = c, c = rotl(b, 30), b = a, a = temp;
    }
    for (int t = 40; t < 60; t++) {
        uint32_t temp = rotl(a, 5) + ((b & c) | (b & d) | (c & d)) + e + w[t] + kK[2];
        e = d, d = c, c = rotl(b, 30), b = a, a = temp;
    }
    for (int t = 60; t < 80; t++) {
        uint32_t temp = rotl(a, 5) + (b ^ c ^ d) + e + w[t] + kK[3];
        e = d, d = c, c = rotl(b, 30), b = a, a = temp;
    }
    s->h[0] += a, s->h[1] += b, s->h[2] += c, s->h[3] += d, s->h[4] += e;
}

void input(REF_SHA1 *s, const uint8_t *src, DWORD count)
{
    for (DWORD i = 0; i < count; i++) {
        s->block[s->index++] = src[i];
        if (s->index == 64) {
            compress(s);
            s->index = 0;
        }
    }
    s->bytes += count;
}

// The message ends with 0x80, zeros, and its bit length in the last 8 bytes of a block; when
// fewer than 9 bytes are left in the current block, the length spills into one more.
void finish(REF_SHA1 *s, uint8_t out[20])
{
    uint64_t bits = s->bytes * 8;
    s->block[s->index++] = 0x80;
    if (s->index > 56) {
        while (s->index < 64)
            s->block[s->index++] = 0;
        compress(s);
        s->index = 0;
    }
    while (s->index < 56)
        s->block[s->index++] = 0;
    for (int i = 0; i < 8; i++)
        s->block[56 + i] = (uint8_t)(bits >> (56 - 8 * i));
    compress(s);
    for (int i = 0; i < 20; i++)
        out[i] = (uint8_t)(s->h[i / 4] >> (24 - 8 * (i % 4)));
}

} // namespace

int ref_sha1_file(HANDLE file_h, uint8_t out[20])
{
    REF_SHA1 s = {};
    for (int i = 0; i < 5; i++)
        s.h[i] = kInit[i];
    uint8_t buf[kReadSize];
    DWORD n = 0;
    BOOL ok;
    while ((ok = ReadFile(file_h, buf, kReadSize, &n, nullptr)) && n > 0)
        input(&s, buf, n);
    if (!ok)
        return 0;
    finish(&s, out);
    return 1;
}
