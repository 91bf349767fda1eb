// tavro_bench_host: the engines, path by path, against their fastest peers on this 64-bit host.
// Every case reads one 256 MiB in-memory file from its start through the same stand-in ReadFile,
// with the request size of the engine it is compared with. Round r runs every case once, then
// round r + 1; the best round of each case counts. A ratio short of its target by no more than
// the run's own spread (the range of the ratios of single rounds, at least kLeastSpread) is not a
// miss: where the target is parity with a peer that runs the same instructions, noise alone would
// flip it.
//   TAVRO_BENCH_HOST_ROUNDS  rounds (default 9)
// Exit status: 0 all targets met, 1 a value disagreed or a run failed, 2 a target was missed by more
// than the spread.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include <windows.h>

#include <isa-l/crc.h>
#include <libdeflate.h>
#include <openssl/md5.h>
#include <openssl/sha.h>
#include <zlib.h>

#include "cpu.h"
#include "crc32.h"
#include "md5.h"
#include "../paths.h"
#include "mem_kernel.h"
#include "sha1.h"

namespace {

constexpr uint64_t kFileSize = 256ull << 20;
constexpr DWORD kLargeRead = 32768; // the CRC-32 and SHA-1 engines' request
constexpr DWORD kMd5Read = 64;      // the MD5 engine's request
constexpr int kDefaultRounds = 9;
constexpr int kMaxRounds = 1000;
constexpr int kCheckText = 41;
// sha1@best against OpenSSL, one SHA1RNDS4 chain each, read 0.97x to 1.02x over 16 runs of 3 rounds
// on a busy 2-core machine, while the rounds of one run sometimes agreed within 0.01.
constexpr double kLeastSpread = 0.03;
static_assert(kFileSize % 8 == 0);

enum KIND { KIND_CRC32, KIND_SHA1, KIND_MD5, KIND_COUNT };

struct KIND_INFO {
    const char *label;
    double target; // least speed of the best path against the fastest peer
};
const KIND_INFO kKinds[KIND_COUNT] = {{"CRC-32", 1.0}, {"SHA-1", 1.0}, {"MD5", 0.95}};

// What a case stands for in the targets.
enum ROLE {
    ROLE_PEER,   // another library
    ROLE_BEFORE, // tavro on its portable path: the speed before the fast paths
    ROLE_PATH,   // tavro held to one fast path
    ROLE_AFTER   // tavro with every path the processor offers
};

// One run over a freshly opened file; true with the value in check, false when a call failed.
typedef bool (*CASE_RUN)(HANDLE file_h, DWORD read_size, char check[kCheckText]);

struct BENCH_CASE {
    const char *name;
    KIND kind;
    ROLE role;
    uint32_t cap;    // what cpu_cap_features allows during the run
    uint32_t needs;  // paths the processor must offer, else the case is absent
    DWORD read_size; // the peers' request; the engines ask for their own
    CASE_RUN run;
};

void hex_text(const uint8_t *bytes, int len, char check[kCheckText])
{
    for (int i = 0; i < len; i++)
        snprintf(check + 2 * i, 3, "%02x", bytes[i]);
}

bool run_tavro_crc32(HANDLE file_h, DWORD, char check[kCheckText])
{
    CRC32_INFO info;
    crc32_init(&info);
    uint32_t value = 0;
    if (crc32_set_input(&info, file_h) != RC_OK || crc32_calc(&info) != RC_OK || crc32_get(&info, &value) != RC_OK)
        return false;
    snprintf(check, kCheckText, "%08x", value);
    return true;
}

bool run_tavro_sha1(HANDLE file_h, DWORD, char check[kCheckText])
{
    SHA1_INFO info;
    sha1_init(&info);
    return sha1_set_input(&info, file_h) == RC_OK && sha1_calc(&info) == RC_OK &&
           sha1_get_string(&info, check) == RC_OK;
}

bool run_tavro_md5(HANDLE file_h, DWORD, char check[kCheckText])
{
    MD5_INFO info;
    md5_init(&info);
    return md5_set_input(&info, file_h) == RC_OK && md5_calc(&info) == RC_OK && md5_get_string(&info, check) == RC_OK;
}

// The peers' read loop, shaped like the engines': a stack buffer filled by the stand-in ReadFile.
template <class Take> bool read_all(HANDLE file_h, DWORD read_size, Take take)
{
    alignas(64) uint8_t buffer[kLargeRead];
    if (read_size > sizeof buffer)
        return false;
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(file_h, buffer, read_size, &got, nullptr)) == TRUE && got > 0)
        take(buffer, got);
    return ok == TRUE;
}

// A CRC-32 peer through the peers' read loop; update(crc, bytes, count) gives the next value.
template <class Update> bool run_crc_peer(HANDLE file_h, DWORD read_size, char check[kCheckText], Update update)
{
    uint32_t crc = 0;
    if (!read_all(file_h, read_size, [&](const uint8_t *p, DWORD n) { crc = update(crc, p, n); }))
        return false;
    snprintf(check, kCheckText, "%08x", crc);
    return true;
}

bool run_isal_crc32(HANDLE file_h, DWORD read_size, char check[kCheckText])
{
    return run_crc_peer(file_h, read_size, check, crc32_gzip_refl);
}

bool run_libdeflate_crc32(HANDLE file_h, DWORD read_size, char check[kCheckText])
{
    return run_crc_peer(file_h, read_size, check, libdeflate_crc32);
}

bool run_zlib_crc32(HANDLE file_h, DWORD read_size, char check[kCheckText])
{
    return run_crc_peer(file_h, read_size, check, [](uint32_t crc, const uint8_t *p, DWORD n) {
        return static_cast<uint32_t>(crc32(crc, p, n));
    });
}

// OpenSSL 3 deprecates the one-algorithm calls, but they are its fastest way to a digest.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

bool run_openssl_sha1(HANDLE file_h, DWORD read_size, char check[kCheckText])
{
    SHA_CTX ctx;
    uint8_t digest[SHA_DIGEST_LENGTH];
    SHA1_Init(&ctx);
    bool ok = read_all(file_h, read_size, [&](const uint8_t *p, DWORD n) { SHA1_Update(&ctx, p, n); });
    SHA1_Final(digest, &ctx);
    hex_text(digest, SHA_DIGEST_LENGTH, check);
    return ok;
}

bool run_openssl_md5(HANDLE file_h, DWORD read_size, char check[kCheckText])
{
    MD5_CTX ctx;
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5_Init(&ctx);
    bool ok = read_all(file_h, read_size, [&](const uint8_t *p, DWORD n) { MD5_Update(&ctx, p, n); });
    MD5_Final(digest, &ctx);
    hex_text(digest, MD5_DIGEST_LENGTH, check);
    return ok;
}

#pragma GCC diagnostic pop

// The order in which every round runs them.
const BENCH_CASE kCases[] = {
    {"crc32@portable", KIND_CRC32, ROLE_BEFORE, 0, 0, kLargeRead, run_tavro_crc32},
    {"crc32@clmul", KIND_CRC32, ROLE_PATH, CPU_CLMUL, CPU_CLMUL, kLargeRead, run_tavro_crc32},
    {"crc32@best", KIND_CRC32, ROLE_AFTER, ~0u, 0, kLargeRead, run_tavro_crc32},
    {"isa-l crc32_gzip_refl", KIND_CRC32, ROLE_PEER, ~0u, 0, kLargeRead, run_isal_crc32},
    {"libdeflate_crc32", KIND_CRC32, ROLE_PEER, ~0u, 0, kLargeRead, run_libdeflate_crc32},
    {"zlib crc32", KIND_CRC32, ROLE_PEER, ~0u, 0, kLargeRead, run_zlib_crc32},
    {"sha1@portable", KIND_SHA1, ROLE_BEFORE, 0, 0, kLargeRead, run_tavro_sha1},
    {"sha1@best", KIND_SHA1, ROLE_AFTER, ~0u, 0, kLargeRead, run_tavro_sha1},
    {"openssl SHA1", KIND_SHA1, ROLE_PEER, ~0u, 0, kLargeRead, run_openssl_sha1},
    {"md5", KIND_MD5, ROLE_AFTER, ~0u, 0, kMd5Read, run_tavro_md5},
    {"openssl MD5", KIND_MD5, ROLE_PEER, ~0u, 0, kMd5Read, run_openssl_md5},
};
constexpr int kCaseCount = sizeof kCases / sizeof kCases[0];

struct CASE_RESULT {
    bool absent;
    bool failed;                 // a call failed in some round
    bool unsteady;               // rounds gave different values
    double best;                 // seconds
    std::vector<double> seconds; // every round's
    char check[kCheckText];
    DWORD request_size; // the largest ReadFile count it asked for
};

// Deterministic pseudo-random content (splitmix64), the same in every run.
std::vector<uint8_t> make_data(uint64_t size)
{
    std::vector<uint8_t> data(size);
    uint64_t x = 0x7461767261ull;
    for (uint64_t i = 0; i < size; i += 8) {
        uint64_t z = (x += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        memcpy(&data[i], &z, 8);
    }
    return data;
}

std::string processor_name()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

int rounds_wanted()
{
    const char *text = getenv("TAVRO_BENCH_HOST_ROUNDS");
    if (text == nullptr || *text == '\0')
        return kDefaultRounds;
    int rounds = atoi(text);
    return rounds >= 1 && rounds <= kMaxRounds ? rounds : 0;
}

// The open is outside the timed span, like the caller's CreateFile; the cap too.
void time_case(const BENCH_CASE &c, MEM_FILE *file, bool first_round, CASE_RESULT *r)
{
    char check[kCheckText] = "";
    cpu_cap_features(c.cap);
    mem_file_rewind(file);
    auto start = std::chrono::steady_clock::now();
    bool ok = c.run(file, c.read_size, check);
    auto end = std::chrono::steady_clock::now();
    cpu_cap_features(~0u);

    double seconds = std::chrono::duration<double>(end - start).count();
    r->seconds.push_back(seconds);
    if (first_round || seconds < r->best)
        r->best = seconds;
    if (!ok)
        r->failed = true;
    else if (!first_round && strcmp(check, r->check) != 0)
        r->unsteady = true;
    if (first_round)
        snprintf(r->check, kCheckText, "%s", check);
    r->request_size = file->largest_request;
}

double ratio(double peer_seconds, double seconds) { return seconds > 0 ? peer_seconds / seconds : 0.0; }

// The range of the ratios of single rounds. A round runs both cases close together, so its ratio
// sees both in one state of the machine; how far the rounds disagree is what noise does to a ratio.
double round_spread(const CASE_RESULT &peer, const CASE_RESULT &ours)
{
    double low = 0, high = 0;
    for (size_t i = 0; i < ours.seconds.size(); i++) {
        double r = ratio(peer.seconds[i], ours.seconds[i]);
        low = i == 0 || r < low ? r : low;
        high = i == 0 || r > high ? r : high;
    }
    return high - low;
}

} // namespace

int main()
{
    int rounds = rounds_wanted();
    if (rounds == 0) {
        fprintf(stderr, "tavro_bench_host: TAVRO_BENCH_HOST_ROUNDS must be 1 to %d\n", kMaxRounds);
        return 1;
    }
    std::vector<uint8_t> data = make_data(kFileSize);
    MEM_FILE file = {data.data(), data.size(), 0, 0};

    uint32_t offered = cpu_features();
    printf("tavro host benchmark: %llu bytes in memory, best of %d interleaved rounds; GB/s = 10^9 bytes/s;\n"
           "vs peer = speed against the fastest peer of the kind\n",
           static_cast<unsigned long long>(kFileSize), rounds);
    printf("processor: %s\n", processor_name().c_str());
    printf("paths offered (cpu_features):");
    print_path_names(offered);
    printf("%s\n\n", offered == 0 ? " none, portable code only" : "");

    static CASE_RESULT results[kCaseCount];
    for (int i = 0; i < kCaseCount; i++)
        results[i].absent = (kCases[i].needs & ~offered) != 0;
    for (int round = 0; round < rounds; round++)
        for (int i = 0; i < kCaseCount; i++)
            if (!results[i].absent)
                time_case(kCases[i], &file, round == 0, &results[i]);

    // Per kind: the fastest peer, the first peer's value as the one to agree with, the best path.
    int fastest_peer[KIND_COUNT], first_peer[KIND_COUNT], before[KIND_COUNT], after[KIND_COUNT];
    for (int k = 0; k < KIND_COUNT; k++)
        fastest_peer[k] = first_peer[k] = before[k] = after[k] = -1;
    for (int i = 0; i < kCaseCount; i++) {
        const BENCH_CASE &c = kCases[i];
        if (c.role == ROLE_PEER) {
            if (first_peer[c.kind] < 0)
                first_peer[c.kind] = i;
            if (fastest_peer[c.kind] < 0 || results[i].best < results[fastest_peer[c.kind]].best)
                fastest_peer[c.kind] = i;
        } else if (c.role == ROLE_BEFORE) {
            before[c.kind] = i;
        } else if (c.role == ROLE_AFTER) {
            after[c.kind] = i;
        }
    }

    printf("%-22s %6s %10s %8s %9s   %s\n", "case", "reads", "best s", "GB/s", "vs peer", "value");
    for (int i = 0; i < kCaseCount; i++) {
        const CASE_RESULT &r = results[i];
        if (r.absent) {
            printf("%-22s absent: the processor lacks it\n", kCases[i].name);
            continue;
        }
        double peer = results[fastest_peer[kCases[i].kind]].best;
        printf("%-22s %6u %10.6f %8.2f %8.2fx   %s%s\n", kCases[i].name, static_cast<unsigned>(r.request_size), r.best,
               static_cast<double>(kFileSize) / r.best / 1e9, ratio(peer, r.best), r.check,
               i == fastest_peer[kCases[i].kind] ? "  (fastest peer)" : "");
    }

    bool failed = false;
    printf("\n");
    for (int i = 0; i < kCaseCount; i++) {
        const BENCH_CASE &c = kCases[i];
        const CASE_RESULT &r = results[i];
        if (r.absent)
            continue;
        const CASE_RESULT &ref = results[first_peer[c.kind]];
        const CASE_RESULT &engine = results[after[c.kind]];
        if (r.failed)
            printf("FAILED: %s: a call failed\n", c.name);
        else if (r.unsteady)
            printf("FAILED: %s: its value changed between rounds\n", c.name);
        else if (strcmp(r.check, ref.check) != 0)
            printf("FAILED: %s gives %s, %s gives %s\n", c.name, r.check, kCases[first_peer[c.kind]].name, ref.check);
        else if (r.request_size != engine.request_size)
            printf("FAILED: %s asked for %u bytes a read, %s for %u\n", c.name, static_cast<unsigned>(r.request_size),
                   kCases[after[c.kind]].name, static_cast<unsigned>(engine.request_size));
        else
            continue;
        failed = true;
    }
    if (!failed)
        printf("values: every case of a kind agrees, and reads like tavro's engine of that kind\n");

    bool missed = false;
    printf("\ntargets (speed against the fastest peer of the kind; a shortfall within the run's spread passes):\n");
    for (int k = 0; k < KIND_COUNT; k++) {
        const CASE_RESULT &peer = results[fastest_peer[k]], &ours = results[after[k]];
        double r = ratio(peer.best, ours.best);
        double margin = std::max(kLeastSpread, round_spread(peer, ours));
        const char *verdict = r >= kKinds[k].target ? "PASS" : "PASS (within spread)";
        if (r + margin < kKinds[k].target) {
            verdict = "MISS";
            missed = true;
        }
        printf("  %-7s %-11s %6.2fx against %-22s target >= %.2fx  spread %.2fx  %s", kKinds[k].label,
               kCases[after[k]].name, r, kCases[fastest_peer[k]].name, kKinds[k].target, margin, verdict);
        if (before[k] >= 0)
            printf("   (before: %s %.2fx)", kCases[before[k]].name, ratio(peer.best, results[before[k]].best));
        printf("\n");
    }
    return failed ? 1 : missed ? 2 : 0;
}
