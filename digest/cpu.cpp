// What the processor offers the engines' fast paths, asked with CPUID (and XGETBV for AVX-512).
#include "cpu.h"

#include <atomic>
#include <cpuid.h>
#include <immintrin.h>

namespace {

constexpr uint32_t kAsked = 1u << 31; // set in the cached answer once the processor was asked

// Relaxed atomics: every thread that asks computes the same value, so any order of the stores is
// right; what matters is that a half-written word is never seen.
std::atomic<uint32_t> g_offered{0};
std::atomic<uint32_t> g_allowed{~0u};

// Leaf 1 and leaf 7 bits of the instruction sets the paths are compiled for.
constexpr uint32_t kEcx1Ssse3 = 1u << 9, kEcx1Sse41 = 1u << 19, kEcx1Pclmul = 1u << 1;
constexpr uint32_t kEcx1Osxsave = 1u << 27, kEcx1Avx = 1u << 28;
constexpr uint32_t kEbx7Avx512f = 1u << 16, kEbx7Sha = 1u << 29, kEbx7Avx512bw = 1u << 30;
constexpr uint32_t kEcx7Vpclmul = 1u << 10;
// XCR0: the operating system saves SSE and AVX state; also opmask, the upper halves of zmm0-15 and
// zmm16-31. The last is asked too, as the manuals tell, though 32-bit code cannot reach those
// registers: systems that save AVX-512 state save all three.
constexpr uint32_t kXcr0Avx = (1u << 1) | (1u << 2);
constexpr uint32_t kXcr0Avx512 = kXcr0Avx | (1u << 5) | (1u << 6) | (1u << 7);

uint32_t read_xcr0(void)
{
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return lo;
}

uint32_t ask_processor(void)
{
    // 0 also on a processor without CPUID at all.
    unsigned max_leaf = __get_cpuid_max(0, nullptr);
    unsigned a, b, c1 = 0, d, b7 = 0, c7 = 0;
    if (max_leaf >= 1)
        __cpuid(1, a, b, c1, d);
    if (max_leaf >= 7)
        __cpuid_count(7, 0, a, b7, c7, d);
    return cpu_decide(max_leaf, c1, b7, c7, read_xcr0);
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

uint32_t cpu_decide(uint32_t max_leaf, uint32_t ecx1, uint32_t ebx7, uint32_t ecx7, uint32_t (*xcr0_reader)(void))
{
    if (max_leaf < 1)
        return 0;
    if (max_leaf < 7)
        ebx7 = ecx7 = 0; // the answers would be another leaf's
    uint32_t offered = 0;
    bool sse4 = (ecx1 & kEcx1Ssse3) && (ecx1 & kEcx1Sse41);
    if (sse4 && (ecx1 & kEcx1Pclmul))
        offered |= CPU_CLMUL;
    if (sse4 && (ebx7 & kEbx7Sha))
        offered |= CPU_SHA;
    // XGETBV raises #UD unless the system enabled XSAVE, whatever the processor has.
    uint32_t xcr0 = ((ecx1 & kEcx1Osxsave) && (ecx1 & kEcx1Avx)) ? xcr0_reader() : 0;
    if ((xcr0 & kXcr0Avx) == kXcr0Avx)
        offered |= CPU_AVX_SAVED;
    bool avx512 = (ebx7 & kEbx7Avx512f) && (ebx7 & kEbx7Avx512bw) && (xcr0 & kXcr0Avx512) == kXcr0Avx512;
    if (avx512 && (ecx7 & kEcx7Vpclmul) && (offered & CPU_CLMUL))
        offered |= CPU_VPCLMUL512;
    return offered;
}

uint32_t cpu_features(void)
{
    return offered_once() & (CPU_CLMUL | CPU_SHA | CPU_VPCLMUL512) & g_allowed.load(std::memory_order_relaxed);
}

void cpu_clean_upper(void)
{
    if (offered_once() & CPU_AVX_SAVED)
        zero_upper();
}

void cpu_cap_features(uint32_t allowed) { g_allowed.store(allowed, std::memory_order_relaxed); }
