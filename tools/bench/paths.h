// The names of the engine paths that cpu_features() reports, for both benchmarks' reports.
#ifndef TAVRO_BENCH_PATHS_H
#define TAVRO_BENCH_PATHS_H

#include <stdint.h>
#include <stdio.h>

#include "cpu.h"

// Prints " NAME" for every path in `offered`.
inline void print_path_names(uint32_t offered)
{
    static const struct {
        uint32_t bit;
        const char *name;
    } kNames[] = {{CPU_CLMUL, "clmul"}, {CPU_SHA, "sha"}, {CPU_VPCLMUL512, "vpclmul512"}};
    for (const auto &n : kNames)
        if (offered & n.bit)
            printf(" %s", n.name);
}

#endif
