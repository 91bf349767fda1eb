// tavro_bench.exe FILE ROUNDS [CASE...]: times the engines (CRC-32 and SHA-1 also held to each of
// their paths, NAME@PATH), two plain references and the bare 64-byte read loop over one file in
// this one process, and prints the paths the processor offers, then one line per case:
//   features NAME...
//   case NAME BEST_SECONDS CHECK RUN_SECONDS...
//   absent NAME                     (a path the processor lacks; not run)
// CHECK is the digest in lower-case hex (the byte count for the read loop) for the caller to
// compare with other programs' answers; "error" when a run failed or two runs disagreed.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "cpu.h"
#include "crc32.h"
#include "md5.h"
#include "paths.h"
#include "ref_crc32.h"
#include "ref_sha1.h"
#include "sha1.h"

namespace {

constexpr int kCheckText = 48;
constexpr int kMaxRounds = 20;

// One run over an open handle; 1 with the check text filled in, 0 on failure.
typedef int (*CASE_RUN)(HANDLE file_h, char check[kCheckText]);

struct BENCH_CASE {
    const char *name;
    CASE_RUN run;
    uint32_t cap;   // what cpu_cap_features allows during the run
    uint32_t needs; // paths the processor must offer, else the case is absent
};

void hex_text(const uint8_t *bytes, int len, char check[kCheckText])
{
    for (int i = 0; i < len; i++)
        snprintf(check + 2 * i, 3, "%02x", bytes[i]);
}

int run_crc32(HANDLE file_h, char check[kCheckText])
{
    CRC32_INFO info;
    crc32_init(&info);
    crc32_set_input(&info, file_h);
    uint32_t value = 0;
    if (crc32_calc(&info) != RC_OK || crc32_get(&info, &value) != RC_OK)
        return 0;
    snprintf(check, kCheckText, "%08x", (unsigned)value);
    return 1;
}

int run_md5(HANDLE file_h, char check[kCheckText])
{
    MD5_INFO info;
    md5_init(&info);
    md5_set_input(&info, file_h);
    return md5_calc(&info) == RC_OK && md5_get_string(&info, check) == RC_OK;
}

int run_sha1(HANDLE file_h, char check[kCheckText])
{
    SHA1_INFO info;
    sha1_init(&info);
    sha1_set_input(&info, file_h);
    return sha1_calc(&info) == RC_OK && sha1_get_string(&info, check) == RC_OK;
}

int run_ref_crc32(HANDLE file_h, char check[kCheckText])
{
    uint32_t value = 0;
    if (!ref_crc32_file(file_h, &value))
        return 0;
    snprintf(check, kCheckText, "%08x", (unsigned)value);
    return 1;
}

int run_ref_sha1(HANDLE file_h, char check[kCheckText])
{
    uint8_t digest[20];
    if (!ref_sha1_file(file_h, digest))
        return 0;
    hex_text(digest, 20, check);
    return 1;
}

// The MD5 engine's read pattern with no hashing: the least time its reads can take.
int run_read64(HANDLE file_h, char check[kCheckText])
{
    uint8_t block[64];
    DWORD n = 0;
    unsigned long long total = 0;
    BOOL ok;
    while ((ok = ReadFile(file_h, block, sizeof block, &n, nullptr)) && n > 0)
        total += n;
    if (!ok)
        return 0;
    snprintf(check, kCheckText, "%llu", total);
    return 1;
}

// The plain names run every path the processor offers; NAME@PATH is the engine before (portable)
// or with one fast path.
const BENCH_CASE kCases[] = {
    {"crc32", run_crc32, ~0u, 0},
    {"crc32@portable", run_crc32, 0, 0},
    {"crc32@clmul", run_crc32, CPU_CLMUL, CPU_CLMUL},
    {"md5", run_md5, ~0u, 0},
    {"sha1", run_sha1, ~0u, 0},
    {"sha1@portable", run_sha1, 0, 0},
    {"ref_crc32", run_ref_crc32, ~0u, 0},
    {"ref_sha1", run_ref_sha1, ~0u, 0},
    {"read64", run_read64, ~0u, 0},
};
constexpr int kCaseCount = sizeof kCases / sizeof kCases[0];

struct CASE_RESULT {
    bool wanted;
    bool failed;
    double seconds[kMaxRounds];
    char check[kCheckText];
};

double now_seconds(void)
{
    static LARGE_INTEGER freq;
    if (freq.QuadPart == 0)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

// Opens the file as the shell does (read access, no sharing, sequential scan) and times the
// case from the open to the close.
void time_case(const char *path, const BENCH_CASE &c, int round, CASE_RESULT *r)
{
    char check[kCheckText] = "";
    cpu_cap_features(c.cap); // every case sets its own, so none outlives its case
    double start = now_seconds();
    HANDLE file_h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file_h == INVALID_HANDLE_VALUE) {
        r->failed = true;
        return;
    }
    int ok = c.run(file_h, check);
    CloseHandle(file_h);
    r->seconds[round] = now_seconds() - start;
    if (!ok || (round > 0 && strcmp(check, r->check) != 0))
        r->failed = true;
    snprintf(r->check, kCheckText, "%s", check);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: tavro_bench FILE ROUNDS [CASE...]\n");
        return 2;
    }
    const char *path = argv[1];
    int rounds = atoi(argv[2]);
    if (rounds < 1 || rounds > kMaxRounds) {
        fprintf(stderr, "tavro_bench: ROUNDS must be 1 to %d\n", kMaxRounds);
        return 2;
    }
    uint32_t offered = cpu_features();
    printf("features");
    print_path_names(offered);
    printf("\n");

    static CASE_RESULT results[kCaseCount];
    for (int i = 0; i < kCaseCount; i++) {
        results[i].wanted = argc == 3;
        for (int a = 3; a < argc; a++)
            if (strcmp(argv[a], kCases[i].name) == 0)
                results[i].wanted = true;
        if (results[i].wanted && (kCases[i].needs & ~offered) != 0) {
            printf("absent %s\n", kCases[i].name);
            results[i].wanted = false;
        }
    }

    // Round-robin, so that every case sees the same drift of the machine.
    for (int round = 0; round < rounds; round++)
        for (int i = 0; i < kCaseCount; i++)
            if (results[i].wanted)
                time_case(path, kCases[i], round, &results[i]);

    int status = 0;
    for (int i = 0; i < kCaseCount; i++) {
        const CASE_RESULT &r = results[i];
        if (!r.wanted)
            continue;
        double best = r.seconds[0];
        for (int k = 1; k < rounds; k++)
            if (r.seconds[k] < best)
                best = r.seconds[k];
        printf("case %s %.6f %s", kCases[i].name, best, r.failed ? "error" : r.check);
        for (int k = 0; k < rounds; k++)
            printf(" %.6f", r.seconds[k]);
        printf("\n");
        if (r.failed)
            status = 1;
    }
    return status;
}
