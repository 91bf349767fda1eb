// Instruction sets that the engines' fast paths may use: asked of the processor, never configured.
// Internal to the engines, their tests and the benchmark; the shell never includes it.
#ifndef TAVRO_CPU_H
#define TAVRO_CPU_H

#include <stdint.h>

// One bit per fast path. A path's bit is set only when the processor has every instruction set
// the path's functions are compiled for and the operating system saves the registers they use.
enum : uint32_t {
    CPU_CLMUL = 1u << 0,     // PCLMULQDQ with SSE4.1 and SSSE3: CRC-32 folding on 128-bit lanes
    CPU_SHA = 1u << 1,       // SHA extensions with SSE4.1 and SSSE3: SHA-1 blocks
    CPU_VPCLMUL512 = 1u << 2 // VPCLMULQDQ with AVX-512F and AVX-512BW: CRC-32 folding on 512-bit lanes
};

// The paths this processor offers, less those taken away by cpu_cap_features. The processor is
// asked once, at the first call from any thread; concurrent first calls agree.
uint32_t cpu_features(void);

// Clears the upper halves of the vector registers where the processor has them (AVX, and the
// system saves them). Legacy-SSE code that runs while other code in the process has left them
// dirty pays for every instruction (seen: a fifth of SHA-1 after a CRC library that leaves them so);
// the paths built on legacy SSE call this first. Any processor may call it.
void cpu_clean_upper(void);

// The decision behind cpu_features, open to tests that hand it processors this machine is not. From
// the processor's answers: its highest basic leaf, ECX of leaf 1, EBX and ECX of leaf 7, and XCR0,
// which it asks of xcr0_reader only where leaf 1 says the system enabled XSAVE. Answers the paths,
// with CPU_AVX_SAVED where cpu_clean_upper may use AVX.
enum : uint32_t { CPU_AVX_SAVED = 1u << 30 };
uint32_t cpu_decide(uint32_t max_leaf, uint32_t ecx1, uint32_t ebx7, uint32_t ecx7, uint32_t (*xcr0_reader)(void));

// Lets only the paths in `allowed` be used from now on (~0u: all the processor offers), so that
// tests and the benchmark can run each path, the portable one included, on one machine.
void cpu_cap_features(uint32_t allowed);

#endif
