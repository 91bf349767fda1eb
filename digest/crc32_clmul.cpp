// CRC-32 folding with carry-less multiplication (PCLMULQDQ, VPCLMULQDQ); chosen by crc32.cpp.
#include <immintrin.h>

#include "crc32_fold.h"

/*
 * The message is a polynomial over GF(2), its first bit the highest power; the CRC register is
 * (message * x^32) mod P. Loaded little-endian, a 16-byte lane holds bit j of the stream at bit j,
 * so bit j stands for x^(127-j): the lane's low quadword holds the higher half. Appending D more
 * bits multiplies what came before by x^D, and only its value mod P matters, so a lane X = H x^64 + L
 * that is D bits ahead of the data it meets folds into that data as
 *     H * (x^(D+64) mod P) + L * (x^D mod P),
 * two 64 x 32-bit carry-less products of at most 96 bits. The product of two quadwords read this
 * way comes out multiplied by one extra x, so each constant is stored as x^(D+63) and x^(D-1) mod P,
 * its coefficient of x^d at bit 63 - d. Four lanes fold in parallel, 64 bytes (or 256 with 512-bit
 * lanes) ahead, and are then folded into one, 16 bytes at a time.
 *
 * The last lane is turned into the register by multiplying by x^32 and reducing: its high half
 * times x^95 mod P and its 96-bit sum with the low half times x^63 mod P leave a 64-bit U with the
 * same remainder; Barrett's reduction then finds q = floor(U / P) as floor(floor(U / x^32) * mu / x^32)
 * with mu = floor(x^64 / P), and U + q P is the 32-bit remainder, already in the register's bit order.
 */
namespace {

// x^n mod P, reflected: bit 31 - d holds the coefficient of x^d.
constexpr uint32_t xpow_mod(uint32_t n)
{
    uint32_t r = 0x80000000u;
    for (; n > 0; n--)
        r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    return r;
}

// A polynomial of degree below 64 as a quadword operand: the coefficient of x^d at bit 63 - d.
constexpr uint64_t operand(uint32_t reflected) { return static_cast<uint64_t>(reflected) << 32; }

// floor(x^64 / P), degree 32, as an operand.
constexpr uint64_t barrett_mu()
{
    constexpr uint64_t p = 0x104C11DB7ull;
    uint64_t q = 1ull << 32, rem = (p & 0xFFFFFFFFu) << 32; // first step: x^64 - x^32 P
    for (int i = 63; i >= 32; i--)
        if ((rem >> i) & 1) {
            q |= 1ull << (i - 32);
            rem ^= p << (i - 32);
        }
    uint64_t out = 0;
    for (int d = 0; d <= 32; d++)
        if ((q >> d) & 1)
            out |= 1ull << (63 - d);
    return out;
}

// The low quadword multiplies a lane's low (higher) half, the high quadword its high half.
struct alignas(16) LanePair {
    uint64_t lo, hi;
};

constexpr LanePair fold_by(uint32_t bits) { return {operand(xpow_mod(bits + 63)), operand(xpow_mod(bits - 1))}; }

alignas(16) constexpr LanePair kFold128 = fold_by(128);
alignas(16) constexpr LanePair kFold512 = fold_by(512);

// The pairs of the four lanes of a 512-bit register.
struct alignas(64) LanePairs4 {
    LanePair lane[4];
};
constexpr LanePairs4 kFold512x4 = {{fold_by(512), fold_by(512), fold_by(512), fold_by(512)}};
constexpr LanePairs4 kFold2048x4 = {{fold_by(2048), fold_by(2048), fold_by(2048), fold_by(2048)}};
// One register's four lanes onto the end of its last: 384, 256 and 128 bits ahead of it; the last
// lane's pair is zero and the lane itself comes in as the data.
constexpr LanePairs4 kFoldLanes = {{fold_by(384), fold_by(256), fold_by(128), {0, 0}}};
alignas(16) constexpr LanePair kReduce = {operand(xpow_mod(95)), operand(xpow_mod(63))};
// mu and P itself (its x^32 term at bit 31).
alignas(16) constexpr LanePair kBarrett = {barrett_mu(), operand(0xEDB88320u) | (1ull << 31)};
alignas(16) constexpr LanePair kBits32To95 = {0xFFFFFFFF00000000ull, 0x00000000FFFFFFFFull};
alignas(16) constexpr LanePair kBits64To95 = {0, 0x00000000FFFFFFFFull};

// Checked against an independent long division.
static_assert(kFold128.lo == 0x65673B4600000000ull && kFold128.hi == 0x9BA54C6F00000000ull);
static_assert(kFold512.lo == 0x653D982200000000ull && kFold512.hi == 0xCAD38E8F00000000ull);
static_assert(kBarrett.lo == 0xFB808B2080000000ull && kBarrett.hi == 0xEDB8832080000000ull);

#define TAVRO_CLMUL __attribute__((target("pclmul,sse4.1,ssse3")))
#define TAVRO_CLMUL_INLINE TAVRO_CLMUL __attribute__((always_inline)) inline

TAVRO_CLMUL_INLINE __m128i load_pair(const LanePair &k)
{
    return _mm_load_si128(reinterpret_cast<const __m128i *>(&k));
}

TAVRO_CLMUL_INLINE __m128i load16(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// The lane x moved over the distance that k was made for.
TAVRO_CLMUL_INLINE __m128i fold16(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Folds the lane x over the whole 16-byte pieces of p, reduces it to the register and takes the
// bytes left over with the table.
TAVRO_CLMUL_INLINE uint32_t finish(__m128i x, const uint8_t *p, size_t n)
{
    const __m128i k = load_pair(kFold128);
    for (; n >= 16; p += 16, n -= 16)
        x = _mm_xor_si128(fold16(x, k), load16(p));

    const __m128i r = load_pair(kReduce);
    __m128i t =
        _mm_xor_si128(_mm_clmulepi64_si128(x, r, 0x00), _mm_and_si128(_mm_srli_si128(x, 4), load_pair(kBits32To95)));
    __m128i u = _mm_xor_si128(_mm_clmulepi64_si128(t, r, 0x10), t); // U in the high quadword
    const __m128i b = load_pair(kBarrett);
    __m128i m = _mm_clmulepi64_si128(_mm_and_si128(u, load_pair(kBits64To95)), b, 0x01); // floor(U / x^32) mu
    __m128i qp = _mm_clmulepi64_si128(_mm_slli_epi64(m, 1), b, 0x10);                    // q P
    uint32_t c = static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(u, _mm_slli_epi64(qp, 1)), 3));
    return crc32_fold_table(c, p, n);
}

} // namespace

// The system promises only a 4-byte aligned stack on 32-bit Windows; the realigned frame keeps
// the compiler's 16-byte spill slots honest.
TAVRO_CLMUL __attribute__((force_align_arg_pointer)) uint32_t crc32_fold_clmul(uint32_t c, const uint8_t *p, size_t n)
{
    if (n < 64)
        return crc32_fold_table(c, p, n);
    __m128i x0 = _mm_xor_si128(load16(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x1 = load16(p + 16), x2 = load16(p + 32), x3 = load16(p + 48);
    p += 64;
    n -= 64;
    const __m128i k = load_pair(kFold512);
    for (; n >= 64; p += 64, n -= 64) {
        x0 = _mm_xor_si128(fold16(x0, k), load16(p));
        x1 = _mm_xor_si128(fold16(x1, k), load16(p + 16));
        x2 = _mm_xor_si128(fold16(x2, k), load16(p + 32));
        x3 = _mm_xor_si128(fold16(x3, k), load16(p + 48));
    }
    const __m128i k1 = load_pair(kFold128);
    __m128i x = _mm_xor_si128(fold16(x0, k1), x1);
    x = _mm_xor_si128(fold16(x, k1), x2);
    x = _mm_xor_si128(fold16(x, k1), x3);
    return finish(x, p, n);
}

#define TAVRO_VPCLMUL512 __attribute__((target("avx512f,avx512bw,vpclmulqdq,pclmul,sse4.1,ssse3")))
#define TAVRO_VPCLMUL512_INLINE TAVRO_VPCLMUL512 __attribute__((always_inline)) inline

namespace {

TAVRO_VPCLMUL512_INLINE __m512i load64(const uint8_t *p) { return _mm512_loadu_si512(p); }

TAVRO_VPCLMUL512_INLINE __m512i load_pairs(const LanePairs4 &k) { return _mm512_load_si512(&k); }

// Four lanes at once, each folded over the distance of k and added to the data d.
TAVRO_VPCLMUL512_INLINE __m512i fold64(__m512i x, __m512i k, __m512i d)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11), d,
                                     0x96); // three-way exclusive or
}

} // namespace

TAVRO_VPCLMUL512 __attribute__((force_align_arg_pointer)) uint32_t crc32_fold_vpclmul512(uint32_t c, const uint8_t *p,
                                                                                         size_t n)
{
    if (n < 256)
        return crc32_fold_clmul(c, p, n);
    __m512i z0 = _mm512_xor_si512(load64(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(c))));
    __m512i z1 = load64(p + 64), z2 = load64(p + 128), z3 = load64(p + 192);
    p += 256;
    n -= 256;
    const __m512i k = load_pairs(kFold2048x4);
    for (; n >= 256; p += 256, n -= 256) {
        z0 = fold64(z0, k, load64(p));
        z1 = fold64(z1, k, load64(p + 64));
        z2 = fold64(z2, k, load64(p + 128));
        z3 = fold64(z3, k, load64(p + 192));
    }
    const __m512i k1 = load_pairs(kFold512x4);
    __m512i z = fold64(fold64(fold64(z0, k1, z1), k1, z2), k1, z3);
    for (; n >= 64; p += 64, n -= 64)
        z = fold64(z, k1, load64(p));

    // Through memory, once per call: the lane extracts of this compiler's headers warn.
    __m128i lanes[4];
    _mm512_storeu_si512(lanes, fold64(z, load_pairs(kFoldLanes), _mm512_maskz_mov_epi64(0xC0, z)));
    __m128i x = _mm_xor_si128(_mm_xor_si128(lanes[0], lanes[1]), _mm_xor_si128(lanes[2], lanes[3]));
    return finish(x, p, n);
}
