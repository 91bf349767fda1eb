// SHA-1 engine (FIPS 180-1): reads a handle to its end in 32768-byte pieces.
#include "sha1.h"

#include <stdio.h>
#include <string.h>

#include "cpu.h"
#include "dump.h"
#include "frame.h"
#include "sha1_block.h"

namespace {

constexpr DWORD kReadSize = 32768;
constexpr uint32_t kInitialHash[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
inline uint32_t load_be32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

} // namespace

/*
 * The SHA-1 compression. The 80-word message schedule W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^
 * W[t-16]) only ever looks 16 words back, so it is kept in a ring of 16 words and expanded as the
 * steps go. The 80 steps fall in four groups of 20, each with its own logical function (choose,
 * parity, majority, parity) and constant; each step rotates the five working words by one place,
 * which the unrolled code does by renaming instead of moving values.
 */
#define SHA1_W(t) (w[(t)&15] = rotl32(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1))
#define SHA1_CH(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_MAJ(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))
#define SHA1_STEP(a, b, c, d, e, f, k, x)       \
    e += rotl32(a, 5) + f(b, c, d) + (k) + (x); \
    b = rotl32(b, 30);
#define SHA1_FIVE(t, f, k, x)                \
    SHA1_STEP(a, b, c, d, e, f, k, x(t))     \
    SHA1_STEP(e, a, b, c, d, f, k, x(t + 1)) \
    SHA1_STEP(d, e, a, b, c, f, k, x(t + 2)) \
    SHA1_STEP(c, d, e, a, b, f, k, x(t + 3)) \
    SHA1_STEP(b, c, d, e, a, f, k, x(t + 4))
#define SHA1_LOAD(t) w[t]

void sha1_compress_portable(uint32_t h[5], const uint8_t *data, size_t blocks)
{
    uint32_t h0 = h[0], h1 = h[1], h2 = h[2], h3 = h[3], h4 = h[4];
    for (; blocks > 0; blocks--, data += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; i++)
            w[i] = load_be32(data + 4 * i);
        uint32_t a = h0, b = h1, c = h2, d = h3, e = h4;

        SHA1_FIVE(0, SHA1_CH, 0x5A827999u, SHA1_LOAD)
        SHA1_FIVE(5, SHA1_CH, 0x5A827999u, SHA1_LOAD)
        SHA1_FIVE(10, SHA1_CH, 0x5A827999u, SHA1_LOAD)
        SHA1_STEP(a, b, c, d, e, SHA1_CH, 0x5A827999u, w[15])
        SHA1_STEP(e, a, b, c, d, SHA1_CH, 0x5A827999u, SHA1_W(16))
        SHA1_STEP(d, e, a, b, c, SHA1_CH, 0x5A827999u, SHA1_W(17))
        SHA1_STEP(c, d, e, a, b, SHA1_CH, 0x5A827999u, SHA1_W(18))
        SHA1_STEP(b, c, d, e, a, SHA1_CH, 0x5A827999u, SHA1_W(19))

        SHA1_FIVE(20, SHA1_PARITY, 0x6ED9EBA1u, SHA1_W)
        SHA1_FIVE(25, SHA1_PARITY, 0x6ED9EBA1u, SHA1_W)
        SHA1_FIVE(30, SHA1_PARITY, 0x6ED9EBA1u, SHA1_W)
        SHA1_FIVE(35, SHA1_PARITY, 0x6ED9EBA1u, SHA1_W)

        SHA1_FIVE(40, SHA1_MAJ, 0x8F1BBCDCu, SHA1_W)
        SHA1_FIVE(45, SHA1_MAJ, 0x8F1BBCDCu, SHA1_W)
        SHA1_FIVE(50, SHA1_MAJ, 0x8F1BBCDCu, SHA1_W)
        SHA1_FIVE(55, SHA1_MAJ, 0x8F1BBCDCu, SHA1_W)

        SHA1_FIVE(60, SHA1_PARITY, 0xCA62C1D6u, SHA1_W)
        SHA1_FIVE(65, SHA1_PARITY, 0xCA62C1D6u, SHA1_W)
        SHA1_FIVE(70, SHA1_PARITY, 0xCA62C1D6u, SHA1_W)
        SHA1_FIVE(75, SHA1_PARITY, 0xCA62C1D6u, SHA1_W)

        h0 += a;
        h1 += b;
        h2 += c;
        h3 += d;
        h4 += e;
    }
    h[0] = h0;
    h[1] = h1;
    h[2] = h2;
    h[3] = h3;
    h[4] = h4;
}

#undef SHA1_W
#undef SHA1_CH
#undef SHA1_PARITY
#undef SHA1_MAJ
#undef SHA1_STEP
#undef SHA1_FIVE
#undef SHA1_LOAD

// The fastest compression this processor offers; asked at every call, which costs one cached load.
static void sha1_compress(uint32_t h[5], const uint8_t *data, size_t blocks)
{
    if (cpu_features() & CPU_SHA) {
        cpu_clean_upper();
        sha1_compress_shaext(h, data, blocks);
    } else
        sha1_compress_portable(h, data, blocks);
}

void sha1_process_block(SHA1_INFO *info)
{
    sha1_compress(info->inter_hash, info->msg_block, 1);
    info->block_index = 0;
}

// Byte by byte, with the exact carry and overflow rules of the length words.
static void sha1_input_bytewise(SHA1_INFO *info, const uint8_t *src, uint32_t count)
{
    while (count-- > 0 && info->corrupted == SHA_OK) {
        info->msg_block[info->block_index++] = *src++;
        info->length_low += 8;
        if (info->length_low == 0) {
            info->length_high += 1;
            if (info->length_high == 0)
                info->corrupted = SHA_TOO_LONG;
        }
        if (info->block_index == 64)
            sha1_process_block(info);
    }
}

int sha1_input(SHA1_INFO *info, const uint8_t *src, uint32_t count)
{
    if (info == nullptr || src == nullptr)
        return SHA_NULL;
    if (count == 0)
        return SHA_OK;
    if (info->computed) {
        info->corrupted = SHA_STATE_ERROR;
        return SHA_STATE_ERROR;
    }
    if (info->corrupted)
        return info->corrupted;

    // Whole blocks go straight from the source to the compression; that is only the same as
    // taking byte after byte while the length words cannot wrap within this call.
    uint64_t bits = (static_cast<uint64_t>(info->length_high) << 32) | info->length_low;
    uint64_t added = static_cast<uint64_t>(count) * 8;
    bool exact = (bits % 8 == 0) && added <= ~bits && info->block_index >= 0 && info->block_index < 64;
    if (!exact) {
        sha1_input_bytewise(info, src, count);
        return SHA_OK;
    }
    bits += added;
    info->length_low = static_cast<uint32_t>(bits);
    info->length_high = static_cast<uint32_t>(bits >> 32);

    uint32_t index = static_cast<uint32_t>(info->block_index);
    if (index > 0) {
        uint32_t fill = 64 - index < count ? 64 - index : count;
        memcpy(info->msg_block + index, src, fill);
        src += fill;
        count -= fill;
        index += fill;
        if (index < 64) {
            info->block_index = static_cast<int16_t>(index);
            return SHA_OK;
        }
        sha1_compress(info->inter_hash, info->msg_block, 1);
    }
    uint32_t blocks = count / 64;
    if (blocks > 0) {
        sha1_compress(info->inter_hash, src, blocks);
        src += 64 * blocks;
        count -= 64 * blocks;
        memcpy(info->msg_block, src - 64, 64); // the block leaves its bytes behind, as byte-wise input would
    }
    memcpy(info->msg_block, src, count);
    info->block_index = static_cast<int16_t>(count);
    return SHA_OK;
}

void sha1_pad(SHA1_INFO *info)
{
    if (info->block_index > 55) {
        info->msg_block[info->block_index++] = 0x80;
        while (info->block_index < 64)
            info->msg_block[info->block_index++] = 0;
        sha1_process_block(info);
        while (info->block_index < 56)
            info->msg_block[info->block_index++] = 0;
    } else {
        info->msg_block[info->block_index++] = 0x80;
        while (info->block_index < 56)
            info->msg_block[info->block_index++] = 0;
    }
    for (int i = 0; i < 4; i++) {
        info->msg_block[56 + i] = static_cast<uint8_t>(info->length_high >> (24 - 8 * i));
        info->msg_block[60 + i] = static_cast<uint8_t>(info->length_low >> (24 - 8 * i));
    }
    sha1_process_block(info);
}

int sha1_result(SHA1_INFO *info)
{
    if (info == nullptr)
        return SHA_NULL;
    if (info->corrupted)
        return info->corrupted;
    if (!info->computed) {
        sha1_pad(info);
        memset(info->msg_block, 0, 64);
        info->length_low = 0;
        info->length_high = 0;
        info->computed = 1;
    }
    for (int i = 0; i < 20; i++)
        info->msg_digest[i] = static_cast<uint8_t>(info->inter_hash[i / 4] >> ((3 - i % 4) * 8));
    return SHA_OK;
}

SHA1_INFO *sha1_create(void) { return frame_create(sha1_init); }

int sha1_init(SHA1_INFO *info)
{
    if (info == nullptr)
        return RC_NULL_INFO;
    memset(info, 0, sizeof *info);
    memcpy(info->inter_hash, kInitialHash, sizeof kInitialHash);
    return RC_OK;
}

int sha1_set_input(SHA1_INFO *info, HANDLE file_h) { return frame_set_input(info, file_h); }

int sha1_calc(SHA1_INFO *info)
{
    int rc = frame_begin_calc(info);
    if (rc != RC_OK)
        return rc;

    alignas(64) uint8_t buffer[kReadSize]; // whole cache lines for the vector loads
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(info->input_h, buffer, kReadSize, &got, nullptr)) == TRUE && got > 0) {
        if (sha1_input(info, buffer, got) != SHA_OK)
            return RC_SHA1_ERROR; // stays STT_BUSY until sha1_init
    }
    if (ok != TRUE)
        return RC_READ_ERROR;
    if (sha1_result(info) != SHA_OK)
        return RC_SHA1_ERROR;
    info->stt = STT_DONE;
    return RC_OK;
}

int sha1_get_digest(const SHA1_INFO *info, uint8_t out[20])
{
    int rc = frame_check_get(info, out);
    if (rc == RC_OK)
        memcpy(out, info->msg_digest, 20);
    return rc;
}

int sha1_get_string(const SHA1_INFO *info, char out[41])
{
    int rc = frame_check_get(info, out);
    if (rc == RC_OK)
        frame_hex(info->msg_digest, 20, out);
    return rc;
}

void sha1_free(SHA1_INFO *info) { frame_free(info); }

void sha1_dump(const SHA1_INFO *info)
{
    if (!dump_open("SHA1_INFO", info))
        return;
    dump_bytes("SHA1_INFO", info, sizeof *info);
    dump_header_fields(info, 13);
    dump_label("msg_digest[]", 13, info->msg_digest);
    for (int i = 0; i < 20; i++)
        printf("%02x ", info->msg_digest[i]);
    printf("\n");
}
