// MD5 engine (RFC 1321): reads exactly the attached size in 64-byte pieces.
#include "md5.h"

#include <stdio.h>
#include <string.h>

#include "dump.h"
#include "frame.h"

namespace {

constexpr uint8_t md5_padding[64] = {0x80};

// Files of 2^31 bytes or more are fed to md5_update in pieces that fit its signed length;
// a multiple of 64 keeps every read of the pieces whole blocks.
constexpr int32_t kLargePiece = 0x40000000;

inline uint32_t load_le32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4); // x86 is little-endian, which is MD5's word order
    return v;
}

// One read of exactly n bytes; a failed or short read is a failure.
bool read_exact(HANDLE file_h, uint8_t *dst, DWORD n)
{
    DWORD got = 0;
    return ReadFile(file_h, dst, n, &got, nullptr) && got == n;
}

// Takes n bytes into dst from the file, or from memory when the handle means "memory".
bool take(HANDLE file_h, const uint8_t *&mem, uint8_t *dst, uint32_t n)
{
    if (file_h != INVALID_HANDLE_VALUE)
        return read_exact(file_h, dst, n);
    memcpy(dst, mem, n);
    mem += n;
    return true;
}

void digest_bytes(const MD5_INFO *info, uint8_t out[16])
{
    memcpy(out, info->abcd, 16); // A, B, C, D each little-endian: the RFC's byte order
}

} // namespace

/*
 * The four rounds of RFC 1321. Each step adds a round function of three words, a message word
 * and a sine-derived constant to the fourth word, rotates it and adds the word after it; the
 * rounds differ in their function (F, G, H, I) and in the order they take the message words.
 */
// The word and constant go in first: they do not wait for b, the word made by the step before.
// G's two halves have no bit in common, so they are added apart and only b & d waits for b.
#define MD5_STEP(f, a, b, c, d, x, k, s) \
    a += (x) + (k);                      \
    a += f(b, c, d);                     \
    a = rotl32(a, s) + b;
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) (((x) & (z)) + ((y) & ~(z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

void md5_transform(MD5_INFO *info, const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = load_le32(block + 4 * i);
    uint32_t a = info->abcd[0], b = info->abcd[1], c = info->abcd[2], d = info->abcd[3];

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22)

    MD5_STEP(MD5_G, a, b, c, d, x[1], 0xf61e2562, 5)
    MD5_STEP(MD5_G, d, a, b, c, x[6], 0xc040b340, 9)
    MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265e5a51, 14)
    MD5_STEP(MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20)
    MD5_STEP(MD5_G, a, b, c, d, x[5], 0xd62f105d, 5)
    MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453, 9)
    MD5_STEP(MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14)
    MD5_STEP(MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20)
    MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5)
    MD5_STEP(MD5_G, d, a, b, c, x[14], 0xc33707d6, 9)
    MD5_STEP(MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14)
    MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455a14ed, 20)
    MD5_STEP(MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5)
    MD5_STEP(MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9)
    MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676f02d9, 14)
    MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20)

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23)

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21)

    info->abcd[0] += a;
    info->abcd[1] += b;
    info->abcd[2] += c;
    info->abcd[3] += d;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

int md5_update(MD5_INFO *info, HANDLE file_h, const uint8_t *mem, int32_t len)
{
    if (len <= 0)
        return 1;
    uint32_t n = static_cast<uint32_t>(len);
    uint32_t index = (info->count[0] >> 3) & 63;

    // The count covers the whole request before any byte arrives.
    info->count[1] += n >> 29;
    info->count[0] += n << 3;
    if (info->count[0] < (n << 3))
        info->count[1] += 1;

    if (index > 0) {
        uint32_t part = (index + n > 64) ? 64 - index : n;
        if (!take(file_h, mem, info->buf + index, part))
            return 0;
        if (index + part < 64)
            return 1;
        md5_transform(info, info->buf);
        n -= part;
    }

    if (file_h != INVALID_HANDLE_VALUE) {
        uint8_t block[64];
        for (; n >= 64; n -= 64) {
            if (!read_exact(file_h, block, 64))
                return 0;
            md5_transform(info, block);
        }
    } else {
        for (; n >= 64; n -= 64, mem += 64)
            md5_transform(info, mem);
    }

    if (n > 0 && !take(file_h, mem, info->buf, n))
        return 0;
    return 1;
}

void md5_final(MD5_INFO *info)
{
    uint8_t length_field[8];
    memcpy(length_field, info->count, 8); // count[0] then count[1], each little-endian
    int32_t pad_length = static_cast<int32_t>(((55u - (info->count[0] >> 3)) & 63) + 1);
    md5_update(info, INVALID_HANDLE_VALUE, md5_padding, pad_length);
    md5_update(info, INVALID_HANDLE_VALUE, length_field, 8);
}

MD5_INFO *md5_create(void) { return frame_create(md5_init); }

int md5_init(MD5_INFO *info)
{
    if (info == nullptr)
        return RC_NULL_INFO;
    memset(info, 0, sizeof *info);
    info->abcd[0] = 0x67452301;
    info->abcd[1] = 0xefcdab89;
    info->abcd[2] = 0x98badcfe;
    info->abcd[3] = 0x10325476;
    return RC_OK;
}

// The attach step: a size that cannot be read is marked -1, not 0, so that md5_calc refuses it
// instead of digesting an empty message.
static void md5_attach(MD5_INFO *info)
{
    BY_HANDLE_FILE_INFORMATION file_info = {};
    if (GetFileInformationByHandle(info->input_h, &file_info))
        info->input_size = static_cast<int32_t>(file_info.nFileSizeLow);
    else
        info->input_size = -1;
}

int md5_set_input(MD5_INFO *info, HANDLE file_h) { return frame_set_input(info, file_h, md5_attach); }

int md5_calc(MD5_INFO *info)
{
    // INVALID_HANDLE_VALUE would make md5_update read memory through the handle value.
    int rc = frame_begin_calc(info, INVALID_HANDLE_VALUE);
    if (rc != RC_OK)
        return rc;

    // The size is read again here: a digest of a file whose size is unknown would be a guess,
    // and input_size holds only the low 32 bits of a file of 2 GiB or more.
    BY_HANDLE_FILE_INFORMATION file_info = {};
    if (!GetFileInformationByHandle(info->input_h, &file_info))
        return RC_READ_ERROR;
    uint64_t size_now = (static_cast<uint64_t>(file_info.nFileSizeHigh) << 32) | file_info.nFileSizeLow;
    bool large_now = size_now >= 0x80000000u;

    uint64_t total;
    if (!large_now && info->input_size >= 0)
        total = static_cast<uint32_t>(info->input_size); // bytes added since the attach are not read
    else if (large_now && file_info.nFileSizeLow == static_cast<uint32_t>(info->input_size))
        total = size_now; // the large file that was attached: all of it
    else
        return RC_READ_ERROR; // size unknown at the attach, or changed across 2 GiB since: no guess

    while (total > 0) {
        int32_t piece = total > static_cast<uint64_t>(kLargePiece) ? kLargePiece : static_cast<int32_t>(total);
        if (!md5_update(info, info->input_h, nullptr, piece))
            return RC_READ_ERROR; // stays STT_BUSY: the half-fed state must not be finalised
        total -= static_cast<uint64_t>(piece);
    }
    md5_final(info);
    info->stt = STT_DONE;
    return RC_OK;
}

int md5_get_digest(const MD5_INFO *info, uint8_t out[16])
{
    int rc = frame_check_get(info, out);
    if (rc == RC_OK)
        digest_bytes(info, out);
    return rc;
}

int md5_get_string(const MD5_INFO *info, char out[33])
{
    int rc = frame_check_get(info, out);
    if (rc == RC_OK) {
        uint8_t digest[16];
        digest_bytes(info, digest);
        frame_hex(digest, 16, out);
    }
    return rc;
}

void md5_free(MD5_INFO *info) { frame_free(info); }

void md5_dump(const MD5_INFO *info)
{
    if (!dump_open("MD5_INFO", info))
        return;
    dump_bytes("MD5_INFO", info, sizeof *info);
    dump_header_fields(info, 9);
    dump_label("buf[64]", 9, info->buf);
    for (int i = 0; i < 64; i++) {
        if (i > 0 && i % 16 == 0)
            printf("\n                          "); // the next row under the first byte
        printf("%02x ", info->buf[i]);
    }
    printf("\n");
    dump_label("count[2]", 9, info->count);
    printf("%08x, %08x\n", static_cast<unsigned>(info->count[0]), static_cast<unsigned>(info->count[1]));
    dump_label("abcd[4]", 9, info->abcd);
    printf("%08x, %08x, %08x, %08x\n", static_cast<unsigned>(info->abcd[0]), static_cast<unsigned>(info->abcd[1]),
           static_cast<unsigned>(info->abcd[2]), static_cast<unsigned>(info->abcd[3]));
}
