// What the processor offers the engines' fast paths, asked with CPUID (and XGETBV for AVX-512).
#include "cpu.h"

#include <atomic>
#include <cpuid.h>
#include <immintrin.h>

namespace {

constexpr uint32_t kAsked = 1u << 31;    // set in the cached answer once the processor was asked
constexpr uint32_t kAvxSaved = 1u << 30; // AVX, with the system saving the upper halves: not a path

// Relaxed atomics: every thread that asks computes the same value, so any order of the stores is
// right; what matters is that a half-written word is never seen.
std::atomic<uint32_t> g_offered{0};
std::atomic<uint32_t> g_allowed{~0u};

// Leaf 1 and leaf 7 bits of the instruction sets the paths are compiled for.
constexpr uint32_t kEcx1Ssse3 = 1u << 9, kEcx1Sse41 = 1u << 19, kEcx1Pclmul = 1u << 1;
constexpr uint32_t kEcx1Osxsave = 1u << 27, kEcx1Avx = 1u << 28;
constexpr uint32_t kEbx7Avx512f = 1u << 16, kEbx7Sha = 1u << 29, kEbx7Avx512bw = 1u << 30;
constexpr uint32_t kEcx7Vpclmul = 1u << 10;
// XCR0: the operating system saves SSE and AVX state; also opmask and the upper halves of zmm0-15.
constexpr uint32_t kXcr0Avx = (1u << 1) | (1u << 2);
constexpr uint32_t kXcr0Avx512 = kXcr0Avx | (1u << 5) | (1u << 6);

uint32_t read_xcr0(void)
{
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return lo;
}

uint32_t ask_processor(void)
{
    unsigned a, b, c1, d;
    // __get_cpuid also answers 0 on a processor without CPUID at all.
    if (!__get_cpuid(1, &a, &b, &c1, &d))
        return 0;
    uint32_t offered = 0;
    bool sse4 = (c1 & kEcx1Ssse3) && (c1 & kEcx1Sse41);
    if (sse4 && (c1 & kEcx1Pclmul))
        offered |= CPU_CLMUL;

    unsigned b7 = 0, c7 = 0;
    if (__get_cpuid_max(0, nullptr) >= 7)
        __cpuid_count(7, 0, a, b7, c7, d);
    if (sse4 && (b7 & kEbx7Sha))
        offered |= CPU_SHA;
    uint32_t xcr0 = ((c1 & kEcx1Osxsave) && (c1 & kEcx1Avx)) ? read_xcr0() : 0;
    if ((xcr0 & kXcr0Avx) == kXcr0Avx)
        offered |= kAvxSaved;
    bool avx512 = (b7 & kEbx7Avx512f) && (b7 & kEbx7Avx512bw) && (xcr0 & kXcr0Avx512) == kXcr0Avx512;
    if (avx512 && (c7 & kEcx7Vpclmul) && (offered & CPU_CLMUL))
        offered |= CPU_VPCLMUL512;
    return offered;
}

uint32_t offered_once(void)
{
    uint32_t offered = g_offered.load(std::memory_order_relaxed);
    if (offered == 0) {
        offered = ask_processor() | kAsked;
        g_offered.store(offered, std::memory_order_relaxed);
    }
    return offered;
}

__attribute__((target("avx"))) void zero_upper(void) { _mm256_zeroupper(); }

} // namespace

uint32_t cpu_features(void)
{
    return offered_once() & (CPU_CLMUL | CPU_SHA | CPU_VPCLMUL512) & g_allowed.load(std::memory_order_relaxed);
}

void cpu_clean_upper(void)
{
    if (offered_once() & kAvxSaved)
        zero_upper();
}

void cpu_cap_features(uint32_t allowed) { g_allowed.store(allowed, std::memory_order_relaxed); }
