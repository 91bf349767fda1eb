// Independent implementations and their state, next to the engine records.
#include "reference.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace ref {

namespace {

std::string format(const char *what, unsigned long long engine, unsigned long long expected)
{
    char line[160];
    std::snprintf(line, sizeof line, "%s: engine %llx, expected %llx", what, engine, expected);
    return line;
}

} // namespace

uint32_t crc32_of(const std::vector<uint8_t> &bytes)
{
    uLong c = crc32(0, Z_NULL, 0);
    // zlib takes at most 4 GiB per call; test data is far smaller.
    c = crc32(c, bytes.data(), static_cast<uInt>(bytes.size()));
    return static_cast<uint32_t>(c);
}

std::array<uint8_t, 16> md5_of(const std::vector<uint8_t> &bytes)
{
    std::array<uint8_t, 16> out;
    MD5(bytes.data(), bytes.size(), out.data());
    return out;
}

std::array<uint8_t, 20> sha1_of(const std::vector<uint8_t> &bytes)
{
    std::array<uint8_t, 20> out;
    SHA1(bytes.data(), bytes.size(), out.data());
    return out;
}

std::string hex_z(const uint8_t *bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    s += '\0';
    return s;
}

std::vector<uint8_t> md5_padding_after(uint64_t bits)
{
    uint64_t bytes = bits >> 3;
    std::vector<uint8_t> tail{0x80};
    while ((bytes + tail.size()) % 64 != 56)
        tail.push_back(0);
    for (int i = 0; i < 8; i++)
        tail.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    return tail;
}

Md5State::Md5State() { MD5_Init(&ctx); }

Md5State::Md5State(const MD5_INFO &info)
{
    MD5_Init(&ctx);
    ctx.A = info.abcd[0];
    ctx.B = info.abcd[1];
    ctx.C = info.abcd[2];
    ctx.D = info.abcd[3];
    ctx.Nl = info.count[0];
    ctx.Nh = info.count[1];
    ctx.num = (info.count[0] >> 3) & 63;
    std::memcpy(ctx.data, info.buf, ctx.num);
}

std::array<uint8_t, 16> Md5State::final_copy() const
{
    MD5_CTX copy = ctx;
    std::array<uint8_t, 16> out;
    MD5_Final(out.data(), &copy);
    return out;
}

std::string Md5State::differs(const MD5_INFO &info) const
{
    const uint32_t expected[4] = {ctx.A, ctx.B, ctx.C, ctx.D};
    for (int i = 0; i < 4; i++)
        if (info.abcd[i] != expected[i])
            return format("md5 abcd word", info.abcd[i], expected[i]);
    if (info.count[0] != ctx.Nl || info.count[1] != ctx.Nh)
        return format("md5 bit count", (uint64_t{info.count[1]} << 32) | info.count[0],
                      (uint64_t{ctx.Nh} << 32) | ctx.Nl);
    if (((info.count[0] >> 3) & 63) != ctx.num)
        return format("md5 pending bytes", (info.count[0] >> 3) & 63, ctx.num);
    if (std::memcmp(info.buf, ctx.data, ctx.num) != 0)
        return "md5 pending bytes differ in content";
    return "";
}

Sha1State::Sha1State() { SHA1_Init(&ctx); }

Sha1State::Sha1State(const SHA1_INFO &info)
{
    SHA1_Init(&ctx);
    ctx.h0 = info.inter_hash[0];
    ctx.h1 = info.inter_hash[1];
    ctx.h2 = info.inter_hash[2];
    ctx.h3 = info.inter_hash[3];
    ctx.h4 = info.inter_hash[4];
    ctx.Nl = info.length_low;
    ctx.Nh = info.length_high;
    ctx.num = static_cast<unsigned>(info.block_index);
    std::memcpy(ctx.data, info.msg_block, ctx.num);
    computed = info.computed;
    corrupted = info.corrupted;
    std::memcpy(digest.data(), info.msg_digest, 20);
}

int Sha1State::input(const uint8_t *src, uint32_t count)
{
    if (src == nullptr)
        return SHA_NULL;
    if (count == 0)
        return SHA_OK;
    if (computed) {
        corrupted = SHA_STATE_ERROR;
        return SHA_STATE_ERROR;
    }
    if (corrupted != SHA_OK)
        return corrupted;
    // The byte that carries the bit count past 2^64 is still taken; the rest of the call is not.
    uint64_t bits = (uint64_t{ctx.Nh} << 32) | ctx.Nl;
    uint64_t room = ~bits / 8 + 1;
    if (count >= room) {
        SHA1_Update(&ctx, src, static_cast<size_t>(room));
        corrupted = SHA_TOO_LONG;
    } else {
        SHA1_Update(&ctx, src, count);
    }
    return SHA_OK;
}

int Sha1State::result()
{
    if (corrupted != SHA_OK)
        return corrupted;
    if (!computed) {
        SHA1_Final(digest.data(), &ctx);
        // The engine wipes block and bit count after the padding.
        ctx.Nl = 0;
        ctx.Nh = 0;
        ctx.num = 0;
        computed = 1;
    }
    return SHA_OK;
}

std::string Sha1State::differs(const SHA1_INFO &info) const
{
    const uint32_t expected[5] = {ctx.h0, ctx.h1, ctx.h2, ctx.h3, ctx.h4};
    for (int i = 0; i < 5; i++)
        if (info.inter_hash[i] != expected[i])
            return format("sha1 inter_hash word", info.inter_hash[i], expected[i]);
    if (info.length_low != ctx.Nl || info.length_high != ctx.Nh)
        return format("sha1 length words", (uint64_t{info.length_high} << 32) | info.length_low,
                      (uint64_t{ctx.Nh} << 32) | ctx.Nl);
    if (info.block_index < 0 || static_cast<unsigned>(info.block_index) != ctx.num)
        return format("sha1 block_index", static_cast<unsigned>(info.block_index), ctx.num);
    if (std::memcmp(info.msg_block, ctx.data, ctx.num) != 0)
        return "sha1 pending bytes differ in content";
    if (info.computed != computed)
        return format("sha1 computed", info.computed, computed);
    if (info.corrupted != corrupted)
        return format("sha1 corrupted", info.corrupted, corrupted);
    if (computed) {
        for (int i = 0; i < 64; i++)
            if (info.msg_block[i] != 0)
                return "sha1 block not wiped after finalisation";
        if (std::memcmp(info.msg_digest, digest.data(), 20) != 0)
            return "sha1 msg_digest differs";
    }
    return "";
}

} // namespace ref
