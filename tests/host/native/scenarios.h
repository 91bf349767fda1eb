// The differential fuzz cases: each decodes its bytes into files, misbehaving read schedules and
// engine operations, runs them against the models and aborts at the first difference.
#ifndef TAVRO_HOST_SCENARIOS_H
#define TAVRO_HOST_SCENARIOS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cpu.h"
#include "crc32.h"
#include "dump_reader.h"
#include "md5.h"
#include "sha1.h"

// The engine paths as cpu_cap_features caps: portable, 128-bit, all that the processor offers.
inline constexpr uint32_t kPathCaps[] = {0, CPU_CLMUL | CPU_SHA, ~0u};

// Each case runs on one of kPathCaps.
void run_fuzz_case(const uint8_t *data, size_t size);

// The named-field lines each dump must show, with the values the record holds.
std::vector<DumpField> dump_fields(const CRC32_INFO &info);
std::vector<DumpField> dump_fields(const MD5_INFO &info);
std::vector<DumpField> dump_fields(const SHA1_INFO &info);

#endif
