// SHA-1 compression with the SHA extensions (SHA1RNDS4, SHA1NEXTE, SHA1MSG1, SHA1MSG2).
#include <immintrin.h>

#include <utility>

#include "sha1_block.h"

/*
 * The instructions keep the working words A..D in one register, A in the highest element, and E
 * apart. SHA1RNDS4 runs four steps of one group (its immediate picks the function and constant)
 * on A..D, given the four schedule words with E already added to the first; SHA1NEXTE derives the
 * next four steps' E (A of four steps ago, rotated by 30) and adds it to the next schedule words.
 * The schedule W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]) is made four words at a time:
 * SHA1MSG1 gives W[t-16] ^ W[t-14] from the quadruples 16 and 12 words back, an exclusive or adds
 * the one 8 back, and SHA1MSG2 adds W[t-3] and rotates. Step group i uses quadruple i of a ring of
 * four registers and prepares quadruples i+1 to i+3 in it, so no quadruple is computed before its
 * inputs are final and none is overwritten before its last use.
 */
#define TAVRO_SHAEXT __attribute__((target("sha,sse4.1,ssse3")))

namespace {

struct Sha1Lanes {
    __m128i abcd;
    __m128i e[2]; // E of the current group and, made by it, of the next
    __m128i w[4]; // the ring of schedule quadruples
};

// Group i of the 20 groups of four steps.
template <int i>
TAVRO_SHAEXT __attribute__((always_inline)) inline void sha1_group(Sha1Lanes &s, const uint8_t *block, __m128i swap)
{
    __m128i &w = s.w[i % 4];
    if constexpr (i < 4)
        w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i)), swap);
    __m128i &e = s.e[i % 2];
    if constexpr (i == 0)
        e = _mm_add_epi32(e, w);
    else
        e = _mm_sha1nexte_epu32(e, w);
    s.e[(i + 1) % 2] = s.abcd;
    s.abcd = _mm_sha1rnds4_epu32(s.abcd, e, i / 5);

    if constexpr (i >= 3 && i <= 18) // quadruple i+1 complete: W[t-3] and the rotation
        s.w[(i + 1) % 4] = _mm_sha1msg2_epu32(s.w[(i + 1) % 4], w);
    if constexpr (i >= 2 && i <= 17) // quadruple i+2 gets its W[t-8]
        s.w[(i + 2) % 4] = _mm_xor_si128(s.w[(i + 2) % 4], w);
    if constexpr (i >= 1 && i <= 16) // quadruple i+3 begins in the place of quadruple i-1
        s.w[(i + 3) % 4] = _mm_sha1msg1_epu32(s.w[(i + 3) % 4], w);
}

template <int... i>
TAVRO_SHAEXT __attribute__((always_inline)) inline void sha1_groups(Sha1Lanes &s, const uint8_t *block, __m128i swap,
                                                                    std::integer_sequence<int, i...>)
{
    (sha1_group<i>(s, block, swap), ...);
}

} // namespace

// The system promises only a 4-byte aligned stack on 32-bit Windows, and eight vector registers
// cannot hold all of this: the realigned frame keeps the 16-byte spill slots aligned.
TAVRO_SHAEXT __attribute__((force_align_arg_pointer)) void sha1_compress_shaext(uint32_t h[5], const uint8_t *data,
                                                                                size_t blocks)
{
    const __m128i swap =
        _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15); // big-endian words, W0 highest
    Sha1Lanes s;
    s.abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(h)), 0x1B); // A highest
    __m128i e = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    for (; blocks > 0; blocks--, data += 64) {
        const __m128i abcd_before = s.abcd, e_before = e;
        s.e[0] = e;
        sha1_groups(s, data, swap, std::make_integer_sequence<int, 20>{});
        s.abcd = _mm_add_epi32(s.abcd, abcd_before);
        e = _mm_sha1nexte_epu32(s.e[0], e_before);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(h), _mm_shuffle_epi32(s.abcd, 0x1B));
    h[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}
