// Independent implementations to hold the engines against: zlib's CRC-32 and libcrypto's MD5 and
// SHA-1, whose inner state (chaining words, bit count, pending bytes) the models compare too.
#ifndef TAVRO_HOST_REFERENCE_H
#define TAVRO_HOST_REFERENCE_H

// The low-level digest API is deprecated in OpenSSL 3 but is the one that exposes the state.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>
#include <openssl/sha.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "md5.h"
#include "sha1.h"

namespace ref {

uint32_t crc32_of(const std::vector<uint8_t> &bytes);
std::array<uint8_t, 16> md5_of(const std::vector<uint8_t> &bytes);
std::array<uint8_t, 20> sha1_of(const std::vector<uint8_t> &bytes);
// Lower-case hex digits followed by a NUL, as the string getters write them.
std::string hex_z(const uint8_t *bytes, size_t n);

// What an RFC 1321 finalisation appends to a message of `bits` bits (a multiple of 8, modulo
// 2^64): 0x80, zeros up to 56 modulo 64, and the bit count, low byte first.
std::vector<uint8_t> md5_padding_after(uint64_t bits);

// libcrypto's MD5 context seen next to an MD5_INFO.
struct Md5State {
    MD5_CTX ctx;
    Md5State();
    // Takes over chaining words, bit count and pending bytes of a record.
    explicit Md5State(const MD5_INFO &info);
    void update(const uint8_t *p, size_t n) { MD5_Update(&ctx, p, n); }
    void update(const std::vector<uint8_t> &bytes) { MD5_Update(&ctx, bytes.data(), bytes.size()); }
    uint64_t bits() const { return (uint64_t{ctx.Nh} << 32) | ctx.Nl; }
    std::array<uint8_t, 16> final_copy() const;
    // Empty when the record holds the same state, else what differs.
    std::string differs(const MD5_INFO &info) const;
};

// libcrypto's SHA-1 context with the engine's overflow rule for the 64-bit bit count.
struct Sha1State {
    SHA_CTX ctx;
    int computed = 0;
    int corrupted = SHA_OK;
    std::array<uint8_t, 20> digest{};
    Sha1State();
    explicit Sha1State(const SHA1_INFO &info);
    // The engine's sha1_input: return code and state change, byte-wise rules included.
    int input(const uint8_t *src, uint32_t count);
    // The engine's sha1_result.
    int result();
    std::string differs(const SHA1_INFO &info) const;
};

} // namespace ref

#endif
