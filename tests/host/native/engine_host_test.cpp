// The engines on the host under ASan and UBSan: their read pattern, devices that misbehave,
// files of 2 GiB and more, SHA-1's bit count near 2^64, the heap, the choice of processor paths
// and the dumps' byte loops.
#include <gtest/gtest.h>

#include <cpuid.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "crc32.h"
#include "dump_reader.h"
#include "fake_kernel.h"
#include "md5.h"
#include "reference.h"
#include "scenarios.h"
#include "sha1.h"

namespace fake {

// Read logs print as "64x15 40x1" in failure messages.
void PrintTo(const ReadRun &run, std::ostream *out) { *out << run.size << "x" << run.count; }

} // namespace fake

namespace {

using fake::ReadRun;

constexpr uint64_t k2GiB = 0x80000000ull;
constexpr uint64_t k4GiB = 0x100000000ull;

std::vector<uint8_t> bytes_of(size_t n, uint8_t seed = 1)
{
    std::vector<uint8_t> v(n);
    uint32_t x = 0x9E3779B9u * (seed + 1u);
    for (uint8_t &b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return v;
}

fake::Device file_of(const std::vector<uint8_t> &data)
{
    fake::Device d;
    d.data = data;
    return d;
}

// Runs each engine over one device copy and keeps what a caller sees.
struct Outcome {
    int rc = 0;
    int stt = -1;
    fake::Device after;
    std::string text; // the result text on RC_OK
};

Outcome run_crc32(fake::Device d, void (*between)(fake::Device &) = nullptr)
{
    fake::Open open(d);
    CRC32_INFO info;
    crc32_init(&info);
    crc32_set_input(&info, open.handle());
    if (between != nullptr)
        between(d);
    Outcome r;
    r.rc = crc32_calc(&info);
    r.stt = info.stt;
    uint32_t value = 0;
    if (crc32_get(&info, &value) == RC_OK) {
        char text[16];
        std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
        r.text = text;
    }
    r.after = d;
    return r;
}

Outcome run_md5(fake::Device d, void (*between)(fake::Device &) = nullptr)
{
    fake::Open open(d);
    MD5_INFO info;
    md5_init(&info);
    md5_set_input(&info, open.handle());
    if (between != nullptr)
        between(d);
    Outcome r;
    r.rc = md5_calc(&info);
    r.stt = info.stt;
    char text[33];
    if (md5_get_string(&info, text) == RC_OK)
        r.text = text;
    r.after = d;
    return r;
}

Outcome run_sha1(fake::Device d, void (*between)(fake::Device &) = nullptr)
{
    fake::Open open(d);
    SHA1_INFO info;
    sha1_init(&info);
    sha1_set_input(&info, open.handle());
    if (between != nullptr)
        between(d);
    Outcome r;
    r.rc = sha1_calc(&info);
    r.stt = info.stt;
    char text[41];
    if (sha1_get_string(&info, text) == RC_OK)
        r.text = text;
    r.after = d;
    return r;
}

std::string crc32_text(const std::vector<uint8_t> &data)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(ref::crc32_of(data)));
    return text;
}

std::string md5_text(const std::vector<uint8_t> &data)
{
    std::string t = ref::hex_z(ref::md5_of(data).data(), 16);
    t.pop_back();
    return t;
}

std::string sha1_text(const std::vector<uint8_t> &data)
{
    std::string t = ref::hex_z(ref::sha1_of(data).data(), 20);
    t.pop_back();
    return t;
}

std::vector<ReadRun> reads_of_32768(uint64_t size)
{
    uint64_t with_data = (size + 32767) / 32768;
    return {{32768, with_data + 1}}; // one more read finds the end of the file
}

// ---- read pattern ----

TEST(ReadPattern, Crc32AndSha1AskFor32768BytesEveryReadToTheEnd)
{
    for (size_t size : {0, 1, 32767, 32768, 32769, 100000}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> data = bytes_of(size);
        Outcome crc = run_crc32(file_of(data));
        EXPECT_EQ(crc.rc, RC_OK);
        EXPECT_EQ(crc.text, crc32_text(data));
        EXPECT_EQ(crc.after.log, reads_of_32768(size));
        Outcome sha = run_sha1(file_of(data));
        EXPECT_EQ(sha.rc, RC_OK);
        EXPECT_EQ(sha.text, sha1_text(data));
        EXPECT_EQ(sha.after.log, reads_of_32768(size));
    }
}

TEST(ReadPattern, Md5AsksForWholeBlocksThenOneTailOfTheAttachedSize)
{
    struct Case {
        size_t size;
        std::vector<ReadRun> reads;
    } cases[] = {
        {0, {}},
        {55, {{55, 1}}},
        {56, {{56, 1}}},
        {64, {{64, 1}}},
        {1000, {{64, 15}, {40, 1}}},
        {65536 + 63, {{64, 1024}, {63, 1}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<uint8_t> data = bytes_of(c.size);
        Outcome md5 = run_md5(file_of(data));
        EXPECT_EQ(md5.rc, RC_OK);
        EXPECT_EQ(md5.text, md5_text(data));
        EXPECT_EQ(md5.after.log, c.reads);
    }
}

TEST(ReadPattern, Md5ContinuingAPendingBlockReadsUpToTheBlockEdgeFirst)
{
    MD5_INFO info;
    md5_init(&info);
    std::vector<uint8_t> head = bytes_of(10, 2), tail = bytes_of(200, 3);
    ASSERT_EQ(md5_update(&info, INVALID_HANDLE_VALUE, head.data(), 10), 1);
    fake::Device d = file_of(tail);
    fake::Open open(d);
    ASSERT_EQ(md5_update(&info, open.handle(), nullptr, 200), 1);
    EXPECT_EQ(d.requests(), (std::vector<uint32_t>{54, 64, 64, 18}));
    md5_final(&info);
    std::vector<uint8_t> all = head;
    all.insert(all.end(), tail.begin(), tail.end());
    std::array<uint8_t, 16> expected = ref::md5_of(all);
    EXPECT_EQ(std::memcmp(info.abcd, expected.data(), 16), 0);
}

// ---- devices that misbehave ----

TEST(MisbehavingDevice, ShortReadsLeaveCrc32AndSha1Unchanged)
{
    std::vector<uint8_t> data = bytes_of(100000);
    fake::Device d = file_of(data);
    d.caps = {1, 100, 32767, 5, 64};
    Outcome crc = run_crc32(d);
    EXPECT_EQ(crc.rc, RC_OK);
    EXPECT_EQ(crc.text, crc32_text(data));
    Outcome sha = run_sha1(d);
    EXPECT_EQ(sha.rc, RC_OK);
    EXPECT_EQ(sha.text, sha1_text(data));
    EXPECT_EQ(sha.after.requests(), std::vector<uint32_t>(sha.after.calls, 32768));
}

TEST(MisbehavingDevice, Md5RefusesAShortReadAndNeedsInitAfterwards)
{
    fake::Device d = file_of(bytes_of(1000));
    d.caps = {64, 64, 10};
    fake::Open open(d);
    MD5_INFO info;
    md5_init(&info);
    md5_set_input(&info, open.handle());
    EXPECT_EQ(md5_calc(&info), RC_READ_ERROR);
    EXPECT_EQ(info.stt, STT_BUSY);
    EXPECT_EQ(d.log, (std::vector<ReadRun>{{64, 3}})) << "no read after the short one";
    char text[33] = "untouched";
    EXPECT_EQ(md5_get_string(&info, text), RC_NOT_DONE);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(md5_set_input(&info, open.handle()), RC_BUSY);
    EXPECT_EQ(md5_init(&info), RC_OK);
    EXPECT_EQ(info.stt, STT_CLEAR);
}

TEST(MisbehavingDevice, ReadErrorAtAnyCallEndsTheRunThere)
{
    std::vector<uint8_t> data = bytes_of(100000);
    for (uint64_t n : {1, 2, 4}) {
        SCOPED_TRACE(n);
        fake::Device d = file_of(data);
        d.fail_at = n;
        Outcome crc = run_crc32(d);
        EXPECT_EQ(crc.rc, RC_READ_ERROR);
        EXPECT_EQ(crc.stt, STT_READY);
        EXPECT_EQ(crc.after.calls, n);
        Outcome sha = run_sha1(d);
        EXPECT_EQ(sha.rc, RC_READ_ERROR);
        EXPECT_EQ(sha.stt, STT_BUSY);
        EXPECT_EQ(sha.after.calls, n);
        Outcome md5 = run_md5(d);
        EXPECT_EQ(md5.rc, RC_READ_ERROR);
        EXPECT_EQ(md5.stt, STT_BUSY);
        EXPECT_EQ(md5.after.calls, n);
        EXPECT_TRUE(crc.text.empty() && sha.text.empty() && md5.text.empty());
    }
}

TEST(MisbehavingDevice, FileGrownAfterAttachMd5DigestsTheAttachedBytesOthersAll)
{
    std::vector<uint8_t> data = bytes_of(1000);
    fake::Device d = file_of(data);
    d.resize_at_first_read = 5000;
    fake::Device grown = d;
    grown.resize(5000);
    EXPECT_EQ(run_md5(d).text, md5_text(data));
    EXPECT_EQ(run_crc32(d).text, crc32_text(grown.data));
    EXPECT_EQ(run_sha1(d).text, sha1_text(grown.data));
}

TEST(MisbehavingDevice, FileShrunkAfterAttachFailsMd5OthersDigestWhatIsLeft)
{
    std::vector<uint8_t> data = bytes_of(1000);
    fake::Device d = file_of(data);
    d.resize_at_first_read = 700;
    Outcome md5 = run_md5(d);
    EXPECT_EQ(md5.rc, RC_READ_ERROR);
    EXPECT_EQ(md5.stt, STT_BUSY);
    std::vector<uint8_t> left(data.begin(), data.begin() + 700);
    EXPECT_EQ(run_crc32(d).text, crc32_text(left));
    EXPECT_EQ(run_sha1(d).text, sha1_text(left));
}

TEST(MisbehavingDevice, Md5FailsWhenTheSizeCannotBeReadAtCalc)
{
    Outcome md5 = run_md5(file_of(bytes_of(100)), [](fake::Device &d) { d.info_fails = true; });
    EXPECT_EQ(md5.rc, RC_READ_ERROR);
    EXPECT_EQ(md5.stt, STT_BUSY);
    EXPECT_EQ(md5.after.calls, 0u);
}

TEST(MisbehavingDevice, Md5RefusesAFileWhoseSizeWasUnknownAtAttachEvenIfKnownAtCalc)
{
    fake::Device d = file_of(bytes_of(1000));
    fake::Open open(d);
    MD5_INFO info;
    md5_init(&info);
    d.info_fails = true;
    md5_set_input(&info, open.handle());
    d.info_fails = false;
    EXPECT_EQ(md5_calc(&info), RC_READ_ERROR);
    EXPECT_EQ(info.stt, STT_BUSY);
    EXPECT_EQ(d.calls, 0u);
}

TEST(MisbehavingDevice, Md5TakesInvalidHandleValueForNoInputAndNeverReadsMemoryThroughIt)
{
    MD5_INFO info;
    md5_init(&info);
    EXPECT_EQ(md5_set_input(&info, INVALID_HANDLE_VALUE), RC_OK);
    MD5_INFO before = info;
    uint64_t stray = fake::stray_calls();
    EXPECT_EQ(md5_calc(&info), RC_NO_INPUT);
    EXPECT_EQ(std::memcmp(&before, &info, sizeof info), 0);
    EXPECT_EQ(fake::stray_calls(), stray);
}

// ---- files of 2 GiB and more ----

fake::Device synthetic(uint64_t size)
{
    fake::Device d;
    d.synthetic_size = size;
    return d;
}

TEST(LargeFile, IsLargeFileFrom2GiBOn)
{
    struct Case {
        uint64_t size;
        int large;
    } cases[] = {{0, 0}, {k2GiB - 1, 0}, {k2GiB, 1}, {k4GiB - 1, 1}, {k4GiB, 1}, {k4GiB + 5, 1}};
    for (const Case &c : cases) {
        fake::Device d = synthetic(c.size);
        d.data.clear();
        if (c.size == 0)
            d.synthetic_size = 0;
        fake::Open open(d);
        EXPECT_EQ(is_large_file(open.handle()), c.large) << c.size;
    }
    fake::Device unreadable = synthetic(k4GiB);
    unreadable.info_fails = true;
    fake::Open open(unreadable);
    EXPECT_EQ(is_large_file(open.handle()), 0);
    EXPECT_EQ(is_large_file(INVALID_HANDLE_VALUE), 0);
}

TEST(LargeFile, Md5ReadsPast4GiBNotJustTheLow32BitsOfTheSize)
{
    // Low 32 bits of the size are 100: a reader that trusted them would stop after 100 bytes.
    fake::Device d = synthetic(k4GiB + 100);
    d.fail_at = 1000;
    Outcome md5 = run_md5(d);
    EXPECT_EQ(md5.rc, RC_READ_ERROR);
    EXPECT_EQ(md5.after.log, (std::vector<ReadRun>{{64, 1000}}));
}

TEST(LargeFile, Md5ShrunkBelow2GiBSinceAttachFailsWithoutReading)
{
    Outcome md5 = run_md5(synthetic(k2GiB + 10), [](fake::Device &d) { d.resize(1000); });
    EXPECT_EQ(md5.rc, RC_READ_ERROR);
    EXPECT_EQ(md5.after.calls, 0u);
}

TEST(LargeFile, Md5OfAFileJustOver2GiBMatchesLibcrypto)
{
    const uint64_t size = k2GiB + 37;
    ref::Md5State expected;
    std::vector<uint8_t> chunk(1 << 20);
    for (uint64_t at = 0; at < size; at += chunk.size()) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunk.size(), size - at));
        fake::pattern_fill(at, chunk.data(), n);
        expected.update(chunk.data(), n);
    }
    std::array<uint8_t, 16> digest = expected.final_copy();
    Outcome md5 = run_md5(synthetic(size));
    ASSERT_EQ(md5.rc, RC_OK);
    std::string text = ref::hex_z(digest.data(), 16);
    text.pop_back();
    EXPECT_EQ(md5.text, text);
    EXPECT_EQ(md5.after.log, (std::vector<ReadRun>{{64, size / 64}, {37, 1}}));
}

// ---- SHA-1's bit count near 2^64 ----

SHA1_INFO sha1_with_bits(uint64_t bits)
{
    SHA1_INFO info;
    sha1_init(&info);
    info.length_low = static_cast<uint32_t>(bits);
    info.length_high = static_cast<uint32_t>(bits >> 32);
    return info;
}

TEST(Sha1BitCount, InputStopsAtTheByteThatCarriesTheCountPast64Bits)
{
    SHA1_INFO info = sha1_with_bits(~uint64_t{0} - 8 * 3 + 1); // room for 3 more bytes
    std::vector<uint8_t> bytes = bytes_of(10);
    EXPECT_EQ(sha1_input(&info, bytes.data(), 10), SHA_OK);
    EXPECT_EQ(info.corrupted, SHA_TOO_LONG);
    EXPECT_EQ(info.block_index, 3);
    EXPECT_EQ(std::memcmp(info.msg_block, bytes.data(), 3), 0);
    EXPECT_EQ(info.msg_block[3], 0) << "bytes after the overflowing one are dropped";
    EXPECT_EQ(info.length_low, 0u);
    EXPECT_EQ(info.length_high, 0u);
    EXPECT_EQ(sha1_input(&info, bytes.data(), 1), SHA_TOO_LONG);
    EXPECT_EQ(sha1_result(&info), SHA_TOO_LONG);
    EXPECT_EQ(info.computed, 0);
}

TEST(Sha1BitCount, InputEndingOneByteShortOfOverflowMatchesLibcrypto)
{
    for (uint32_t count : {1u, 63u, 64u, 199u, 1000u}) {
        SCOPED_TRACE(count);
        uint64_t bits = ~uint64_t{0} - 7 - 8 * uint64_t{count}; // one byte of room left after
        SHA1_INFO info = sha1_with_bits(bits);
        ref::Sha1State expected(info);
        std::vector<uint8_t> bytes = bytes_of(count);
        EXPECT_EQ(sha1_input(&info, bytes.data(), count), expected.input(bytes.data(), count));
        EXPECT_EQ(info.corrupted, SHA_OK);
        EXPECT_EQ(expected.differs(info), "");
        EXPECT_EQ(sha1_result(&info), SHA_OK);
        expected.result();
        EXPECT_EQ(expected.differs(info), "");
    }
}

TEST(Sha1BitCount, CalcReportsTheOverflowAsSha1ErrorAndStaysBusy)
{
    SHA1_INFO info = sha1_with_bits(~uint64_t{0} - 7 - 8 * 50);
    fake::Device d = file_of(bytes_of(100));
    fake::Open open(d);
    sha1_set_input(&info, open.handle());
    EXPECT_EQ(sha1_calc(&info), RC_SHA1_ERROR);
    EXPECT_EQ(info.stt, STT_BUSY);
    EXPECT_EQ(info.corrupted, SHA_TOO_LONG);
}

// ---- heap ----

TEST(Heap, CreateTakesOneBlockOfTheRecordSizeAndFreeGivesItBack)
{
    fake::HeapStats before = fake::heap_stats();
    CRC32_INFO *crc = crc32_create();
    MD5_INFO *md5 = md5_create();
    SHA1_INFO *sha = sha1_create();
    ASSERT_TRUE(crc && md5 && sha);
    EXPECT_EQ(fake::heap_stats().allocs, before.allocs + 3);
    EXPECT_EQ(fake::heap_stats().last_flags, 0u);
    EXPECT_EQ(crc->myheap_h, GetProcessHeap());
    EXPECT_EQ(md5->myheap_h, GetProcessHeap());
    EXPECT_EQ(sha->myheap_h, GetProcessHeap());
    EXPECT_EQ(sha->stt, STT_CLEAR);
    crc32_free(crc);
    md5_free(md5);
    sha1_free(sha);
    EXPECT_EQ(fake::heap_stats().live, before.live);
}

TEST(Heap, CreateAnswersNullWhenTheHeapRefuses)
{
    fake::heap_fail_at(1);
    EXPECT_EQ(crc32_create(), nullptr);
    fake::heap_fail_at(1);
    EXPECT_EQ(md5_create(), nullptr);
    fake::heap_fail_at(1);
    EXPECT_EQ(sha1_create(), nullptr);
    fake::heap_fail_at(0);
}

TEST(Heap, FreeOfARecordThatNamesNoHeapDoesNothing)
{
    MD5_INFO *md5 = md5_create();
    ASSERT_NE(md5, nullptr);
    md5_init(md5); // clears myheap_h
    fake::HeapStats before = fake::heap_stats();
    md5_free(md5);
    EXPECT_EQ(fake::heap_stats().frees, before.frees);
    fake::heap_release(md5);
}

// ---- processor paths ----

// A record's bytes after init, set_input and calc over a copy of d on the path `allowed`, its
// handle (another for every open) left out, and the reads that the run asked for.
template <class Info>
std::string record_after_calc(fake::Device d, uint32_t allowed, int (*init)(Info *), int (*set_input)(Info *, HANDLE),
                              int (*calc)(Info *), std::vector<ReadRun> &reads)
{
    cpu_cap_features(allowed);
    fake::Open open(d);
    Info info;
    init(&info);
    set_input(&info, open.handle());
    calc(&info);
    cpu_cap_features(~0u);
    info.input_h = nullptr;
    reads = d.log;
    return std::string(reinterpret_cast<const char *>(&info), sizeof info);
}

template <class Info>
void expect_every_path_as_portable(const fake::Device &d, int (*init)(Info *), int (*set_input)(Info *, HANDLE),
                                   int (*calc)(Info *))
{
    std::vector<ReadRun> portable_reads, reads;
    std::string portable = record_after_calc(d, kPathCaps[0], init, set_input, calc, portable_reads);
    for (size_t i = 1; i < std::size(kPathCaps); i++) {
        EXPECT_EQ(record_after_calc(d, kPathCaps[i], init, set_input, calc, reads), portable)
            << "paths " << kPathCaps[i];
        EXPECT_EQ(reads, portable_reads) << "paths " << kPathCaps[i];
    }
}

// Reads cut anywhere hand the fast paths every length and alignment, and now and then fail.
TEST(Paths, EveryPathLeavesTheRecordsByteForByteAsThePortableOne)
{
    SCOPED_TRACE("paths offered here: " + std::to_string(cpu_features()));
    uint32_t x = 20261209;
    auto next = [&x](uint32_t n) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % n;
    };
    for (uint8_t trial = 0; trial < 200; trial++) {
        SCOPED_TRACE(trial);
        fake::Device d = file_of(bytes_of(next(4) == 0 ? next(600) : next(150000), trial));
        for (uint32_t i = next(12); i > 0; i--)
            d.caps.push_back(1 + (next(2) ? next(300) : next(40000)));
        if (next(8) == 0)
            d.fail_at = 1 + next(6);
        expect_every_path_as_portable<CRC32_INFO>(d, crc32_init, crc32_set_input, crc32_calc);
        expect_every_path_as_portable<SHA1_INFO>(d, sha1_init, sha1_set_input, sha1_calc);
    }
}

// ---- the choice of paths ----

// What each path needs, in the flags of /proc/cpuinfo (which name a feature only when the kernel
// also saves its registers), and its name in TAVRO_MODEL_PATHS.
struct PathNeeds {
    uint32_t path;
    const char *name;
    std::vector<std::string> flags;
    uint32_t paths; // the paths it builds on
};
const PathNeeds kPathNeeds[] = {
    {CPU_CLMUL, "clmul", {"pclmulqdq", "ssse3", "sse4_1"}, 0},
    {CPU_SHA, "sha", {"sha_ni", "ssse3", "sse4_1"}, 0},
    {CPU_VPCLMUL512, "vpclmul512", {"vpclmulqdq", "avx512f", "avx512bw"}, CPU_CLMUL},
};

std::string path_names(uint32_t paths)
{
    std::string names;
    for (const PathNeeds &n : kPathNeeds)
        if (paths & n.path)
            names += std::string(names.empty() ? "" : " ") + n.name;
    return names.empty() ? "none" : names;
}

std::set<std::string> words_of(const std::string &text)
{
    std::istringstream in(text);
    std::set<std::string> words;
    for (std::string w; in >> w;)
        words.insert(w);
    return words;
}

// The paths that the system says this processor offers. On one of qemu's processor models the suite
// names the model's paths in TAVRO_MODEL_PATHS ("none" or names): /proc/cpuinfo there describes the
// real machine.
uint32_t paths_reported(std::string &source)
{
    uint32_t paths = 0;
    if (const char *model = std::getenv("TAVRO_MODEL_PATHS")) {
        source = std::string("TAVRO_MODEL_PATHS=") + model;
        std::set<std::string> names = words_of(model);
        for (const PathNeeds &n : kPathNeeds)
            if (names.erase(n.name))
                paths |= n.path;
        names.erase("none");
        EXPECT_TRUE(names.empty()) << "unknown path names in " << source;
        return paths;
    }
    source = "/proc/cpuinfo";
    std::ifstream in(source);
    std::string line;
    while (std::getline(in, line) && line.rfind("flags", 0) != 0) {
    }
    EXPECT_EQ(line.rfind("flags", 0), 0u) << "no flags line in " << source;
    std::set<std::string> flags = words_of(line.substr(line.find(':') + 1));
    for (const PathNeeds &n : kPathNeeds) {
        bool all = (paths & n.paths) == n.paths;
        for (const std::string &f : n.flags)
            all = all && flags.count(f) > 0;
        if (all)
            paths |= n.path;
    }
    return paths;
}

// Leaving out a path the processor has costs only speed, which no answer shows; offering one it
// lacks dies of an illegal instruction only where such a processor runs.
TEST(Paths, OfferedAreExactlyThoseTheSystemReports)
{
    std::string source;
    uint32_t reported = paths_reported(source);
    EXPECT_EQ(path_names(cpu_features()), path_names(reported)) << "as " << source << " tells";
}

// Processors this machine is not, each under a system, as CPUID and XGETBV answer there: every bit
// the processor reports, so that a neighbouring bit read by mistake shows. The registers are from
// the InstLatx64/InstLatx64 dumps named; where the system left XSAVE off, leaf 1 shows OSXSAVE (bit
// 27) clear and XCR0 cannot be read.
struct ProcessorAnswers {
    const char *name;
    uint32_t max_leaf, ecx1, ebx7, ecx7, xcr0;
    uint32_t offered; // paths, with CPU_AVX_SAVED where cpu_clean_upper may use vzeroupper
};
constexpr uint32_t kAvx = CPU_AVX_SAVED, kAll = CPU_CLMUL | CPU_SHA | CPU_VPCLMUL512;
const ProcessorAnswers kProcessors[] = {
    // GenuineIntel/GenuineIntel0000F41_P4_Prescott_CPUID.txt: no SSSE3, no leaf 7
    {"Pentium 4 Prescott, XP", 0x5, 0x0000651D, 0, 0, 0, 0},
    // GenuineIntel/GenuineIntel00006F6_Merom_CPUID.txt: SSSE3 without SSE4.1
    {"Core 2 Merom, XP", 0xA, 0x0000E3BD, 0, 0, 0, 0},
    // GenuineIntel/GenuineIntel00106A2_Nehalem-EP_CPUID.txt: SSE4.2 without PCLMULQDQ
    {"Nehalem-EP, XP", 0xB, 0x00BCE3BD, 0, 0, 0, 0},
    // GenuineIntel/GenuineIntel00206C2_Gulftown_CPUID.txt
    {"Westmere Gulftown, XP", 0xB, 0x029AE3BF, 0, 0, 0, CPU_CLMUL},
    // GenuineIntel/GenuineIntel00206A7_SandyBridge_CPUID.txt
    {"Sandy Bridge, 7 SP1", 0xD, 0x1FBAE3FF, 0, 0, 0x7, CPU_CLMUL | kAvx},
    {"Sandy Bridge, XP (XSAVE off)", 0xD, 0x1FBAE3FF & ~(1u << 27), 0, 0, 0, CPU_CLMUL},
    {"Sandy Bridge, XSAVE of x87 and SSE only", 0xD, 0x1FBAE3FF, 0, 0, 0x3, CPU_CLMUL},
    // GenuineIntel/GenuineIntel00306C3_Haswell_CPUID.txt
    {"Haswell, 10", 0xD, 0x7FFAFBFF, 0x000027AB, 0, 0x7, CPU_CLMUL | kAvx},
    // GenuineIntel/GenuineIntel00506F1_Denverton_CPUID.txt: Goldmont, SHA without AVX. Its leaf 0xD
    // shows that system saving MPX state; the Skylake-X and Cascade Lake rows take it so too.
    {"Atom C3958 Goldmont, 10", 0x15, 0x4FF8EBBF, 0x2294E283, 0, 0x1B, CPU_CLMUL | CPU_SHA},
    // GenuineIntel/GenuineIntel0050654_SkylakeX_CPUID.txt: AVX-512 without VPCLMULQDQ
    {"Skylake-X, 10", 0x16, 0x7FFEFBBF, 0xD39FFFFB, 0, 0xFF, CPU_CLMUL | kAvx},
    // GenuineIntel/GenuineIntel0050656_CascadeLakeSP_CPUID.txt: VNNI (bit 11) without VPCLMULQDQ
    {"Cascade Lake-SP, 10", 0x16, 0x7FFEFBFF, 0xD39FFFFB, 0x00000808, 0xFF, CPU_CLMUL | kAvx},
    // GenuineIntel/GenuineIntel00706E5_IceLakeY_CPUID.txt
    {"Ice Lake, 10", 0x1B, 0x7FFAFBBF, 0xF2BF27EF, 0x40405F4E, 0xE7, kAll | kAvx},
    {"Ice Lake, 7 SP1 (no AVX-512 state)", 0x1B, 0x7FFAFBBF, 0xF2BF27EF, 0x40405F4E, 0x7, CPU_CLMUL | CPU_SHA | kAvx},
    // AuthenticAMD/AuthenticAMD0870F10_K17_Matisse_CPUID.txt: Zen 2, SHA and AVX2
    {"Zen 2 Matisse, 10", 0x10, 0x7ED8320B, 0x219C91A9, 0x00400004, 0x7, CPU_CLMUL | CPU_SHA | kAvx},
    // AuthenticAMD/AuthenticAMD0A60F12_K19_Raphael_03_CPUID.txt: Zen 4
    {"Zen 4 Raphael, 10", 0x10, 0x7EF8320B, 0xF1BF97A9, 0x00405FCE, 0xE7, kAll | kAvx},
};

const ProcessorAnswers *g_asked; // the row whose XCR0 the decision may read

uint32_t row_xcr0(void)
{
    EXPECT_NE(g_asked->ecx1 & (1u << 27), 0u) << g_asked->name << ": XGETBV with XSAVE off raises #UD";
    return g_asked->xcr0;
}

std::string offer_names(uint32_t offered)
{
    return path_names(offered) + (offered & CPU_AVX_SAVED ? " +vzeroupper" : "");
}

// A wrong bit, or a check left out, offers a path where it dies of an illegal instruction.
TEST(Paths, DecidedRightOnProcessorsThisMachineIsNot)
{
    for (const ProcessorAnswers &p : kProcessors) {
        g_asked = &p;
        uint32_t offered = cpu_decide(p.max_leaf, p.ecx1, p.ebx7, p.ecx7, row_xcr0);
        EXPECT_EQ(offered, p.offered) << p.name << ": offers " << offer_names(offered) << ", not "
                                      << offer_names(p.offered);
    }
    g_asked = nullptr;
}

// XGETBV 1 (the state in use), bit 2: the upper halves of the ymm registers hold something.
bool ymm_upper_in_use()
{
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
    return (lo & (1u << 2)) != 0;
}

void dirty_ymm_upper() { __asm__ volatile("vpcmpeqd %%ymm0, %%ymm0, %%ymm0" ::: "xmm0"); }

// Some processors (qemu's models among them) report the halves in use whatever was done to them.
bool upper_use_tracked()
{
    unsigned a, b, c, d;
    if (!__get_cpuid_count(0xD, 1, &a, &b, &c, &d) || (a & (1u << 2)) == 0)
        return false;
    dirty_ymm_upper();
    bool dirty = ymm_upper_in_use();
    __asm__ volatile("vzeroupper");
    return dirty && !ymm_upper_in_use();
}

// Where AVX is, the legacy-SSE paths rely on cpu_clean_upper to spare them the dirty-upper penalty.
TEST(Paths, CleanUpperLeavesNoUpperHalfInUseWhereAvxIs)
{
    if (!__builtin_cpu_supports("avx") || !upper_use_tracked())
        GTEST_SKIP() << "no AVX, or the processor does not track the upper halves' use";
    dirty_ymm_upper();
    cpu_clean_upper();
    EXPECT_FALSE(ymm_upper_in_use());
}

// ---- dumps ----

template <class Info> void expect_dump_at_every_offset(void (*dump)(const Info *), const char *type)
{
    // Every place the record can lie within a 16-byte row: 4-byte steps on 32 bits, 8 on 64.
    for (size_t offset = 0; offset < 16; offset += alignof(Info)) {
        SCOPED_TRACE(offset);
        alignas(16) unsigned char storage[sizeof(Info) + 16];
        std::vector<uint8_t> bytes = bytes_of(sizeof storage, static_cast<uint8_t>(offset));
        std::memcpy(storage, bytes.data(), sizeof storage);
        Info *info = new (storage + offset) Info;
        std::string text = capture_stdout([&] { dump(info); });
        EXPECT_EQ(check_dump(text, type, info, sizeof *info, dump_fields(*info)), "");
    }
    EXPECT_EQ(capture_stdout([&] { dump(nullptr); }), std::string("\nNULL ") + type + " !\n");
}

TEST(Dump, ShowsEveryByteUnderItsColumnAtEveryWordOffset)
{
    expect_dump_at_every_offset<CRC32_INFO>(crc32_dump, "CRC32_INFO");
    expect_dump_at_every_offset<MD5_INFO>(md5_dump, "MD5_INFO");
    expect_dump_at_every_offset<SHA1_INFO>(sha1_dump, "SHA1_INFO");
}

} // namespace
