// Differential fuzzer of the digest engines (libFuzzer). Its own main draws and prints a seed
// and bounds the run, then hands over to libFuzzer's driver with the remaining flags.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "scenarios.h"

extern "C" int LLVMFuzzerRunDriver(int *argc, char ***argv, int (*callback)(const uint8_t *data, size_t size));

namespace {

const char kUsage[] =
    "usage: digest_fuzz [--seed=N] [--time=SECONDS] [--runs=N] [-libfuzzer_flag=V ...] [CORPUS_DIR | CRASH_FILE ...]\n"
    "  Checks the CRC-32, MD5 and SHA-1 engines against libcrypto and zlib under ASan and UBSan.\n"
    "  --seed=N       seed of the run (1 to 4294967295); without it one is drawn and printed\n"
    "  --time=SECONDS stop after this long; without --time or --runs it runs until interrupted\n"
    "  --runs=N       stop after N inputs\n"
    "  A CRASH_FILE given alone is replayed once; other flags go to libFuzzer (-help=1 lists them).\n";

int one_input(const uint8_t *data, size_t size)
{
    run_fuzz_case(data, size);
    return 0;
}

bool number_after(const char *arg, const char *prefix, unsigned long long &value)
{
    size_t n = std::strlen(prefix);
    if (std::strncmp(arg, prefix, n) != 0)
        return false;
    char *end = nullptr;
    value = std::strtoull(arg + n, &end, 10);
    if (end == arg + n || *end != '\0') {
        std::fprintf(stderr, "digest_fuzz: not a number in '%s'\n%s", arg, kUsage);
        std::exit(2);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    unsigned long long seed = 0, time = 0, runs = 0;
    std::vector<std::string> passed{argv[0]};
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (number_after(argv[i], "--seed=", seed) || number_after(argv[i], "--time=", time) ||
            number_after(argv[i], "--runs=", runs))
            continue;
        if (std::strncmp(argv[i], "--", 2) == 0) {
            std::fprintf(stderr, "digest_fuzz: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
        passed.push_back(argv[i]);
    }
    if (seed > UINT32_MAX) {
        std::fprintf(stderr, "digest_fuzz: the seed must fit in 32 bits\n");
        return 2;
    }
    // libFuzzer takes 0 to mean "draw one", which it would print but not let us announce.
    while (seed == 0)
        seed = std::random_device{}();
    std::fprintf(stderr, "digest_fuzz: seed %llu (repeat with --seed=%llu)\n", seed, seed);

    passed.push_back("-seed=" + std::to_string(seed));
    if (time > 0)
        passed.push_back("-max_total_time=" + std::to_string(time));
    if (runs > 0)
        passed.push_back("-runs=" + std::to_string(runs));
    passed.push_back("-print_final_stats=1");

    std::vector<char *> args;
    for (std::string &s : passed)
        args.push_back(s.data());
    args.push_back(nullptr);
    int count = static_cast<int>(args.size()) - 1;
    char **list = args.data();
    return LLVMFuzzerRunDriver(&count, &list, one_input);
}
