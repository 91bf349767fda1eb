// The differential fuzz cases, and the models of the three engines' records they run against.
#include "scenarios.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

#include "fake_kernel.h"
#include "reference.h"

namespace {

[[noreturn]] [[gnu::format(printf, 1, 2)]] void fail(const char *fmt, ...)
{
    std::va_list args;
    va_start(args, fmt);
    std::fputs("engine differs from its model: ", stderr);
    std::vfprintf(stderr, fmt, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

void require_same(const std::string &difference, const char *context)
{
    if (!difference.empty())
        fail("%s: %s", context, difference.c_str());
}

void require_code(int got, int expected, const char *operation)
{
    if (got != expected)
        fail("%s returned %d, expected %d", operation, got, expected);
}

uint64_t splitmix(uint64_t &state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The fuzzer's bytes read as choices. Past their end the choices go on from a generator seeded
// with the bytes, so that even a short input reaches deep into a case; the input still decides.
class Reader {
  public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size)
    {
        tail_ = 0xCBF29CE484222325ull; // FNV-1a over the input
        for (size_t i = 0; i < size; i++)
            tail_ = (tail_ ^ data[i]) * 0x100000001B3ull;
    }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : static_cast<uint8_t>(splitmix(tail_) >> 56); }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v = (v << 8) | byte();
        return v;
    }
    uint64_t u64() { return (uint64_t{u32()} << 32) | u32(); }
    // 0 to n - 1, for n > 0.
    uint32_t below(uint32_t n) { return n <= 256 ? byte() % n : u32() % n; }
    bool one_in(uint32_t n) { return below(n) == 0; }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    uint64_t tail_;
};

std::vector<uint8_t> random_bytes(uint64_t seed, size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; i += 8) {
        uint64_t x = splitmix(seed);
        for (size_t j = 0; j < 8 && i + j < n; j++)
            bytes[i + j] = static_cast<uint8_t>(x >> (8 * j));
    }
    return bytes;
}

// File sizes cluster where the engines' arithmetic turns: block edges, the padding edge at 55/56,
// the 32768-byte read edges.
uint32_t pick_size(Reader &r, uint32_t max)
{
    int64_t n = 0;
    switch (r.below(6)) {
    case 0:
        n = r.below(130);
        break;
    case 1:
        n = 64 * int64_t{r.below(24)} + int64_t{r.below(11)} - 8;
        break;
    case 2:
        n = 32768 * int64_t{r.below(7)} + int64_t{r.below(141)} - 70;
        break;
    case 3:
        n = r.below(max + 1);
        break;
    case 4:
        n = 0;
        break;
    default:
        n = r.below(2000);
        break;
    }
    return static_cast<uint32_t>(n < 0 ? 0 : n > max ? max : n);
}

fake::Device make_device(Reader &r, uint32_t max)
{
    fake::Device d;
    d.data = random_bytes(r.u64(), pick_size(r, max));
    if (r.one_in(3)) {
        uint32_t n = 1 + r.below(6);
        for (uint32_t i = 0; i < n; i++) {
            static const uint32_t kinds[] = {0, 1, 63, 64, 65, 32767, 32768};
            d.caps.push_back(r.one_in(2) ? kinds[r.below(7)] : r.below(70000));
        }
    }
    if (r.one_in(4))
        d.fail_at = 1 + r.below(12);
    if (r.one_in(6))
        d.resize_at_first_read = pick_size(r, max);
    if (r.one_in(8))
        d.pos = r.below(static_cast<uint32_t>(d.data.size()) + 1);
    return d;
}

// A device changes its mind after it was attached: size, failures, short reads, position.
void tweak_device(Reader &r, fake::Device &d)
{
    switch (r.below(5)) {
    case 0:
        d.resize(pick_size(r, 70000));
        break;
    case 1:
        d.fail_at = d.calls + 1 + r.below(4);
        break;
    case 2: {
        uint64_t call = d.calls + r.below(4);
        if (d.caps.size() <= call)
            d.caps.resize(call + 1, UINT32_MAX);
        d.caps[call] = r.below(100);
        break;
    }
    case 3:
        d.info_fails = !d.info_fails;
        break;
    default:
        d.pos = 0;
        break;
    }
}

std::string describe(const std::vector<fake::ReadRun> &log)
{
    std::string text;
    for (const fake::ReadRun &run : log) {
        if (text.size() > 300) {
            text += "...";
            break;
        }
        text += std::to_string(run.size) + "x" + std::to_string(run.count) + " ";
    }
    return text.empty() ? "(none)" : text;
}

// Two files, each open under its own handle while this lives.
struct Files {
    fake::Device dev[2];
    fake::Open open0{dev[0]};
    fake::Open open1{dev[1]};

    HANDLE handle(int i) const { return i == 0 ? open0.handle() : open1.handle(); }
    int index(HANDLE h) const { return h == handle(0) ? 0 : h == handle(1) ? 1 : -1; }
};

// What a calc should answer, and the state its file should be left in.
struct Expected {
    int rc = RC_OK;
    int device = -1; // the file the run reads, if any
    fake::Device after;
};

// A calc refused before it reads anything.
Expected answer(int rc)
{
    Expected ex;
    ex.rc = rc;
    return ex;
}

void require_reads(const Files &f, const Expected &ex)
{
    if (ex.device < 0)
        return;
    const fake::Device &real = f.dev[ex.device];
    if (real.log != ex.after.log)
        fail("read requests: engine %s, expected %s", describe(real.log).c_str(), describe(ex.after.log).c_str());
    if (real.pos != ex.after.pos)
        fail("file position after the run: engine %llu, expected %llu", static_cast<unsigned long long>(real.pos),
             static_cast<unsigned long long>(ex.after.pos));
}

// Calls a getter on a buffer of sentinels. It must return `rc`, and write exactly `expected`
// on RC_OK and nothing otherwise.
template <class Get> void check_output(Get get, int rc, const std::string &expected, const char *what)
{
    uint32_t words[16];
    unsigned char *bytes = reinterpret_cast<unsigned char *>(words);
    std::memset(bytes, 0x5A, sizeof words);
    require_code(get(words), rc, what);
    size_t written = rc == RC_OK ? expected.size() : 0;
    if (written > 0 && std::memcmp(bytes, expected.data(), written) != 0)
        fail("%s wrote the wrong bytes", what);
    for (size_t i = written; i < sizeof words; i++)
        if (bytes[i] != 0x5A)
            fail("%s wrote byte %zu, beyond what it may write", what, i);
}

std::string as_text(const uint8_t *bytes, size_t n) { return std::string(reinterpret_cast<const char *>(bytes), n); }

std::string hex8(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(v));
    return text;
}

// ---- the engines, as a table of their operations ----

struct Crc32 {
    using Info = CRC32_INFO;
    static constexpr const char *type = "CRC32_INFO";
    static Info *create() { return crc32_create(); }
    static int init(Info *i) { return crc32_init(i); }
    static int set_input(Info *i, HANDLE h) { return crc32_set_input(i, h); }
    static int calc(Info *i) { return crc32_calc(i); }
    static void free(Info *i) { crc32_free(i); }
    static void dump(const Info *i) { crc32_dump(i); }
};

struct Md5 {
    using Info = MD5_INFO;
    static constexpr const char *type = "MD5_INFO";
    static Info *create() { return md5_create(); }
    static int init(Info *i) { return md5_init(i); }
    static int set_input(Info *i, HANDLE h) { return md5_set_input(i, h); }
    static int calc(Info *i) { return md5_calc(i); }
    static void free(Info *i) { md5_free(i); }
    static void dump(const Info *i) { md5_dump(i); }
};

struct Sha1 {
    using Info = SHA1_INFO;
    static constexpr const char *type = "SHA1_INFO";
    static Info *create() { return sha1_create(); }
    static int init(Info *i) { return sha1_init(i); }
    static int set_input(Info *i, HANDLE h) { return sha1_set_input(i, h); }
    static int calc(Info *i) { return sha1_calc(i); }
    static void free(Info *i) { sha1_free(i); }
    static void dump(const Info *i) { sha1_dump(i); }
};

template <class E> void check_dump_of(const typename E::Info *info)
{
    std::string text = capture_stdout([&] { E::dump(info); });
    if (info == nullptr) {
        if (text != std::string("\nNULL ") + E::type + " !\n")
            fail("dump of a null %s printed '%s'", E::type, text.c_str());
        return;
    }
    require_same(check_dump(text, E::type, info, sizeof *info, dump_fields(*info)), E::type);
}

// ---- models of the records: what each operation answers and leaves ----

// The frame every engine shares: states, the attached handle, the heap of a created record.
struct Frame {
    int stt = STT_CLEAR;
    HANDLE input = nullptr;
    HANDLE heap = nullptr;

    int set_input(HANDLE h)
    {
        if (stt == STT_BUSY)
            return RC_BUSY;
        stt = STT_READY;
        input = h;
        return RC_OK;
    }
    template <class Info> void check_frame(const Info &info) const
    {
        if (info.stt != stt)
            fail("stt is %d, expected %d", static_cast<int>(info.stt), stt);
        if (info.input_h != input)
            fail("input_h is %p, expected %p", info.input_h, input);
        if (info.myheap_h != heap)
            fail("myheap_h is %p, expected %p", info.myheap_h, heap);
    }
};

// Reads the way CRC-32 and SHA-1 do: 32768 bytes a call until a read fails or brings nothing.
// `take` sees each chunk and may stop the run by answering false.
template <class Take> bool read_to_end(fake::Device &m, Take take)
{
    std::vector<uint8_t> buffer(32768);
    for (;;) {
        uint32_t got = 0;
        if (m.read(buffer.data(), 32768, &got) != TRUE)
            return false;
        if (got == 0)
            return true;
        if (!take(buffer.data(), got))
            return true;
    }
}

struct Crc32Model : Frame {
    using E = Crc32;
    uint32_t crc = 0;

    void init() { *this = Crc32Model{}; }
    Expected calc(const Files &f)
    {
        Expected ex;
        if (stt == STT_BUSY)
            return answer(RC_BUSY);
        if (input == nullptr)
            return answer(RC_NO_INPUT);
        ex.device = f.index(input);
        std::vector<uint8_t> bytes;
        bool ok = false;
        if (ex.device >= 0) {
            ex.after = f.dev[ex.device];
            ok = read_to_end(ex.after, [&](const uint8_t *p, uint32_t n) {
                bytes.insert(bytes.end(), p, p + n);
                return true;
            });
        }
        if (!ok) {
            stt = STT_READY;
            ex.rc = RC_READ_ERROR;
            return ex;
        }
        crc = ref::crc32_of(bytes);
        stt = STT_DONE;
        return ex;
    }
    void check(const CRC32_INFO &info) const
    {
        check_frame(info);
        if (info.crc != crc)
            fail("crc is %08x, expected %08x", static_cast<unsigned>(info.crc), static_cast<unsigned>(crc));
    }
    void check_get(const CRC32_INFO *info) const
    {
        int rc = info == nullptr ? RC_NULL_INFO : stt == STT_DONE ? RC_OK : RC_NOT_DONE;
        uint32_t value = crc;
        check_output([&](uint32_t *out) { return crc32_get(info, out); }, rc,
                     as_text(reinterpret_cast<const uint8_t *>(&value), 4), "crc32_get");
    }
    void preset(Reader &, CRC32_INFO &) {}
};

struct Md5Model : Frame {
    using E = Md5;
    int32_t input_size = 0;
    ref::Md5State state;
    bool poisoned = false; // a failed run left a half-fed state that only init clears
    std::array<uint8_t, 16> digest{};

    void init() { *this = Md5Model{}; }
    int set_input(const Files &f, HANDLE h)
    {
        int rc = Frame::set_input(h);
        if (rc == RC_OK) {
            int i = f.index(h);
            bool known = i >= 0 && !f.dev[i].info_fails;
            input_size = known ? static_cast<int32_t>(static_cast<uint32_t>(f.dev[i].size())) : -1;
        }
        return rc;
    }
    Expected calc(const Files &f)
    {
        Expected ex;
        if (stt == STT_BUSY)
            return answer(RC_BUSY);
        if (input == nullptr || input == INVALID_HANDLE_VALUE)
            return answer(RC_NO_INPUT);
        stt = STT_BUSY; // and so it stays unless the run succeeds
        poisoned = true;
        ex.rc = RC_READ_ERROR;
        ex.device = f.index(input);
        if (ex.device < 0)
            return ex;
        ex.after = f.dev[ex.device];
        fake::Device &m = ex.after;
        if (m.info_fails)
            return ex;
        if (m.size() >= 0x80000000u)
            fail("the fuzz model covers files below 2 GiB only");
        if (input_size < 0)
            return ex; // size unknown at the attach: refused without a read

        // One leading part up to the block edge, whole blocks, one tail; each read must be whole.
        std::vector<uint8_t> bytes;
        auto take = [&](uint32_t n) {
            std::vector<uint8_t> buffer(n);
            uint32_t got = 0;
            if (m.read(buffer.data(), n, &got) != TRUE || got != n)
                return false;
            bytes.insert(bytes.end(), buffer.begin(), buffer.end());
            return true;
        };
        uint32_t left = static_cast<uint32_t>(input_size);
        uint32_t index = static_cast<uint32_t>(state.bits() >> 3) & 63;
        if (index > 0 && left > 0) {
            uint32_t part = index + left > 64 ? 64 - index : left;
            if (!take(part))
                return ex;
            left -= part;
        }
        for (; left >= 64; left -= 64)
            if (!take(64))
                return ex;
        if (left > 0 && !take(left))
            return ex;

        state.update(bytes);
        digest = state.final_copy();
        state.update(ref::md5_padding_after(state.bits()));
        poisoned = false;
        stt = STT_DONE;
        ex.rc = RC_OK;
        return ex;
    }
    void check(const MD5_INFO &info) const
    {
        check_frame(info);
        if (info.input_size != input_size)
            fail("input_size is %d, expected %d", static_cast<int>(info.input_size), static_cast<int>(input_size));
        if (!poisoned)
            require_same(state.differs(info), "md5 state");
    }
    void check_get(const MD5_INFO *info) const
    {
        int rc = info == nullptr ? RC_NULL_INFO : stt == STT_DONE ? RC_OK : RC_NOT_DONE;
        check_output([&](uint32_t *out) { return md5_get_digest(info, reinterpret_cast<uint8_t *>(out)); }, rc,
                     as_text(digest.data(), 16), "md5_get_digest");
        check_output([&](uint32_t *out) { return md5_get_string(info, reinterpret_cast<char *>(out)); }, rc,
                     ref::hex_z(digest.data(), 16), "md5_get_string");
    }
    // A bit count near 2^64, keeping the pending bytes where they are.
    void preset(Reader &r, MD5_INFO &info)
    {
        if (poisoned)
            return;
        uint64_t bits = state.bits();
        uint64_t near = ~uint64_t{0} - uint64_t{r.below(1u << 20)} * 512;
        uint64_t next = (near & ~uint64_t{0x1FF}) | (bits & 0x1FF);
        info.count[0] = static_cast<uint32_t>(next);
        info.count[1] = static_cast<uint32_t>(next >> 32);
        state.ctx.Nl = info.count[0];
        state.ctx.Nh = info.count[1];
    }
};

struct Sha1Model : Frame {
    using E = Sha1;
    ref::Sha1State state;

    void init() { *this = Sha1Model{}; }
    Expected calc(const Files &f)
    {
        Expected ex;
        if (stt == STT_BUSY)
            return answer(RC_BUSY);
        if (input == nullptr)
            return answer(RC_NO_INPUT);
        stt = STT_BUSY; // and so it stays unless the run succeeds
        ex.rc = RC_READ_ERROR;
        ex.device = f.index(input);
        if (ex.device < 0)
            return ex;
        ex.after = f.dev[ex.device];
        bool refused = false;
        bool ok = read_to_end(ex.after, [&](const uint8_t *p, uint32_t n) {
            refused = state.input(p, n) != SHA_OK;
            return !refused;
        });
        if (refused) {
            ex.rc = RC_SHA1_ERROR;
            return ex;
        }
        if (!ok)
            return ex;
        if (state.result() != SHA_OK) {
            ex.rc = RC_SHA1_ERROR;
            return ex;
        }
        stt = STT_DONE;
        ex.rc = RC_OK;
        return ex;
    }
    void check(const SHA1_INFO &info) const
    {
        check_frame(info);
        require_same(state.differs(info), "sha1 state");
        for (int i = 64; i < 512; i++)
            if (info.msg_block[i] != 0)
                fail("msg_block[%d] was written; only the first 64 bytes are the block", i);
    }
    void check_get(const SHA1_INFO *info) const
    {
        int rc = info == nullptr ? RC_NULL_INFO : stt == STT_DONE ? RC_OK : RC_NOT_DONE;
        check_output([&](uint32_t *out) { return sha1_get_digest(info, reinterpret_cast<uint8_t *>(out)); }, rc,
                     as_text(state.digest.data(), 20), "sha1_get_digest");
        check_output([&](uint32_t *out) { return sha1_get_string(info, reinterpret_cast<char *>(out)); }, rc,
                     ref::hex_z(state.digest.data(), 20), "sha1_get_string");
    }
    // Length words a few hundred bytes short of 2^64 bits, so that a run reaches the overflow.
    void preset(Reader &r, SHA1_INFO &info)
    {
        uint64_t bits = ~uint64_t{0} - 7 - 8 * uint64_t{r.below(5000)};
        info.length_low = static_cast<uint32_t>(bits);
        info.length_high = static_cast<uint32_t>(bits >> 32);
        state.ctx.Nl = info.length_low;
        state.ctx.Nh = info.length_high;
    }
};

int set_input_of(Crc32Model &m, const Files &, HANDLE h) { return m.set_input(h); }
int set_input_of(Md5Model &m, const Files &f, HANDLE h) { return m.set_input(f, h); }
int set_input_of(Sha1Model &m, const Files &, HANDLE h) { return m.set_input(h); }

// Every operation on a null record: RC_NULL_INFO, free does nothing, dump prints its null line.
template <class M> void check_null_record(const M &model)
{
    using E = typename M::E;
    require_code(E::init(nullptr), RC_NULL_INFO, "init(null)");
    require_code(E::set_input(nullptr, nullptr), RC_NULL_INFO, "set_input(null)");
    require_code(E::calc(nullptr), RC_NULL_INFO, "calc(null)");
    model.check_get(nullptr);
    fake::HeapStats before = fake::heap_stats();
    E::free(nullptr);
    if (fake::heap_stats().frees != before.frees)
        fail("free(null) released a block");
    check_dump_of<E>(nullptr);
}

enum Op {
    kInit,
    kSetFirst,
    kSetSecond,
    kSetNull,
    kSetInvalid,
    kCalc,
    kGet,
    kDump,
    kTweak,
    kNull,
    kFree,
    kPreset,
    kOps
};

// Runs operations on one record against its model. `script` comes first, then `extra` random ones.
template <class M> void run_ops(Reader &r, Files &f, const std::vector<Op> &script, uint32_t extra)
{
    using E = typename M::E;
    using Info = typename E::Info;
    M model;
    Info *info = nullptr;
    alignas(16) unsigned char storage[sizeof(Info) + 16];
    bool on_heap = r.one_in(3);
    if (on_heap) {
        fake::HeapStats before = fake::heap_stats();
        bool refuse = r.one_in(4);
        fake::heap_fail_at(refuse ? 1 : 0);
        info = E::create();
        fake::heap_fail_at(0);
        if (refuse != (info == nullptr))
            fail("create returned %p with the heap %s", static_cast<void *>(info), refuse ? "refusing" : "willing");
        if (info != nullptr) {
            if (fake::heap_stats().last_flags != 0 || fake::heap_stats().allocs != before.allocs + 1)
                fail("create allocated other than one block with flags 0");
            model.heap = GetProcessHeap();
        } else {
            on_heap = false;
        }
    }
    if (!on_heap) {
        // A record anywhere on its alignment, so that the dump meets every column offset it can.
        std::vector<uint8_t> garbage = random_bytes(r.u64(), sizeof storage);
        std::memcpy(storage, garbage.data(), sizeof storage);
        info = new (storage + alignof(Info) * r.below(16 / alignof(Info))) Info;
        require_code(E::init(info), RC_OK, "init");
    }
    model.check(*info);

    std::vector<Op> ops = script;
    for (uint32_t i = 0; i < extra; i++)
        ops.push_back(static_cast<Op>(r.below(kOps)));
    for (Op op : ops) {
        switch (op) {
        case kInit:
            require_code(E::init(info), RC_OK, "init");
            model.init();
            break;
        case kSetFirst:
        case kSetSecond:
        case kSetNull:
        case kSetInvalid: {
            HANDLE h = op == kSetFirst    ? f.handle(0)
                       : op == kSetSecond ? f.handle(1)
                       : op == kSetNull   ? nullptr
                                          : INVALID_HANDLE_VALUE;
            int expected = set_input_of(model, f, h);
            require_code(E::set_input(info, h), expected, "set_input");
            break;
        }
        case kCalc: {
            Expected ex = model.calc(f);
            require_code(E::calc(info), ex.rc, "calc");
            require_reads(f, ex);
            break;
        }
        case kGet:
            model.check_get(info);
            break;
        case kDump:
            check_dump_of<E>(info);
            break;
        case kTweak:
            tweak_device(r, f.dev[r.below(2)]);
            break;
        case kNull:
            check_null_record(model);
            break;
        case kFree:
            // A record that names no heap is not given back: nothing may happen to it.
            if (info->myheap_h == nullptr) {
                std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(info),
                                            reinterpret_cast<uint8_t *>(info) + sizeof(Info));
                fake::HeapStats stats = fake::heap_stats();
                E::free(info);
                if (fake::heap_stats().frees != stats.frees || std::memcmp(before.data(), info, sizeof(Info)) != 0)
                    fail("free of a record without heap did something");
            }
            break;
        case kPreset:
            model.preset(r, *info);
            break;
        default:
            break;
        }
        model.check(*info);
    }

    if (info->myheap_h != nullptr) {
        fake::HeapStats before = fake::heap_stats();
        E::free(info);
        if (fake::heap_stats().frees != before.frees + 1 || fake::heap_stats().last_flags != 0)
            fail("free did not give the block back with flags 0");
    } else if (on_heap) {
        fake::heap_release(info); // init cleared the heap handle: the engine cannot free it
    }
}

// One file through every engine: the same content and misbehaviour, the natural order of calls.
void file_run(Reader &r)
{
    fake::Device first = make_device(r, 200000);
    fake::Device second = make_device(r, 2000);
    bool tweak = r.one_in(3);
    std::vector<Op> script = {kSetFirst};
    if (tweak)
        script.push_back(kTweak);
    script.insert(script.end(), {kCalc, kGet, kDump});
    uint32_t extra = r.below(4);
    {
        Files f;
        f.dev[0] = first;
        f.dev[1] = second;
        run_ops<Crc32Model>(r, f, script, extra);
    }
    {
        Files f;
        f.dev[0] = first;
        f.dev[1] = second;
        run_ops<Md5Model>(r, f, script, extra);
    }
    {
        Files f;
        f.dev[0] = first;
        f.dev[1] = second;
        run_ops<Sha1Model>(r, f, script, extra);
    }
}

// Random operations on one engine's record.
void op_sequence(Reader &r)
{
    Files f;
    f.dev[0] = make_device(r, 70000);
    f.dev[1] = make_device(r, 3000);
    uint32_t count = 1 + r.below(24);
    switch (r.below(3)) {
    case 0:
        run_ops<Crc32Model>(r, f, {}, count);
        break;
    case 1:
        run_ops<Md5Model>(r, f, {}, count);
        break;
    default:
        run_ops<Sha1Model>(r, f, {}, count);
        break;
    }
}

// md5_update fed from memory and from files in pieces of every length, md5_final at the end;
// the state is compared with libcrypto's after every piece.
void md5_pieces(Reader &r)
{
    MD5_INFO info;
    md5_init(&info);
    if (r.one_in(2)) {
        for (uint32_t &w : info.abcd)
            w = r.u32();
        uint64_t bits = r.one_in(2) ? r.u64() : ~uint64_t{0} - r.below(100000);
        info.count[0] = static_cast<uint32_t>(bits);
        info.count[1] = static_cast<uint32_t>(bits >> 32);
        std::vector<uint8_t> pending = random_bytes(r.u64(), 64);
        std::memcpy(info.buf, pending.data(), 64);
    }
    ref::Md5State state(info);
    uint32_t pieces = 1 + r.below(12);
    for (uint32_t i = 0; i < pieces; i++) {
        int32_t len = 0;
        switch (r.below(8)) {
        case 0:
            len = -static_cast<int32_t>(r.below(1000)); // nothing may change
            break;
        case 1:
            len = 64 - static_cast<int32_t>((state.bits() >> 3) & 63) + static_cast<int32_t>(r.below(3)) - 1;
            break;
        case 7:
            len = static_cast<int32_t>(r.below(5000));
            break;
        default:
            len = static_cast<int32_t>(r.below(200));
            break;
        }
        std::vector<uint8_t> bytes = random_bytes(r.u64(), len > 0 ? static_cast<size_t>(len) : 0);
        if (len > 0 && r.one_in(4)) {
            // From a file: one read up to the block edge, whole blocks, one tail.
            fake::Device d;
            d.data = bytes;
            bool short_read = r.one_in(4);
            if (short_read) {
                d.caps.assign(1 + r.below(4), UINT32_MAX);
                d.caps.back() = r.below(64);
            }
            fake::Open open(d);
            uint32_t index = static_cast<uint32_t>(state.bits() >> 3) & 63;
            std::vector<uint32_t> expected;
            uint32_t left = static_cast<uint32_t>(len);
            if (index > 0) {
                uint32_t part = index + left > 64 ? 64 - index : left;
                expected.push_back(part);
                left -= part;
            }
            for (; left >= 64; left -= 64)
                expected.push_back(64);
            if (left > 0)
                expected.push_back(left);
            int whole = md5_update(&info, open.handle(), nullptr, len);
            if (whole == 0) {
                // A short read ends the piece at once; the half-fed state is not looked at further.
                std::vector<uint32_t> asked = d.requests();
                if (asked.empty() || asked.size() > expected.size() ||
                    !std::equal(asked.begin(), asked.end(), expected.begin()) || d.caps.size() < asked.size() ||
                    d.caps[asked.size() - 1] >= asked.back())
                    fail("md5_update from a file: reads stopped at the wrong place");
                return;
            }
            if (d.requests() != expected)
                fail("md5_update from a file asked for %s", describe(d.log).c_str());
        } else {
            require_code(md5_update(&info, INVALID_HANDLE_VALUE, bytes.data(), len), 1, "md5_update from memory");
        }
        state.update(bytes);
        require_same(state.differs(info), "md5_update");
    }
    std::array<uint8_t, 16> digest = state.final_copy();
    md5_final(&info);
    state.update(ref::md5_padding_after(state.bits()));
    require_same(state.differs(info), "md5_final");
    info.stt = STT_DONE;
    uint8_t out[16];
    require_code(md5_get_digest(&info, out), RC_OK, "md5_get_digest");
    if (std::memcmp(out, digest.data(), 16) != 0)
        fail("md5_final gave the wrong digest");
}

// sha1_input in pieces of every length, from fresh and from length words near 2^64, with
// sha1_result in between; the state is compared with libcrypto's after every call.
void sha1_pieces(Reader &r)
{
    SHA1_INFO info;
    sha1_init(&info);
    switch (r.below(4)) {
    case 1: { // a few hundred bytes short of the 64-bit bit count
        uint64_t bits = ~uint64_t{0} - 7 - 8 * uint64_t{r.below(3000)};
        info.length_low = static_cast<uint32_t>(bits);
        info.length_high = static_cast<uint32_t>(bits >> 32);
        break;
    }
    case 2: { // anywhere, with a part block pending
        uint64_t bits = r.u64() & ~uint64_t{7};
        info.length_low = static_cast<uint32_t>(bits);
        info.length_high = static_cast<uint32_t>(bits >> 32);
        info.block_index = static_cast<int16_t>(r.below(64));
        std::vector<uint8_t> block = random_bytes(r.u64(), 64);
        std::memcpy(info.msg_block, block.data(), 64);
        for (uint32_t &w : info.inter_hash)
            w = r.u32();
        break;
    }
    default:
        break;
    }
    ref::Sha1State state(info);
    uint32_t pieces = 1 + r.below(12);
    for (uint32_t i = 0; i < pieces; i++) {
        uint32_t kind = r.below(10);
        if (kind == 0) {
            int expected = state.result();
            require_code(sha1_result(&info), expected, "sha1_result");
        } else {
            uint32_t count = kind == 1   ? 0
                             : kind == 2 ? 64 - static_cast<uint32_t>(info.block_index) + r.below(3) - 1
                             : kind == 3 ? r.below(5000)
                                         : r.below(200);
            std::vector<uint8_t> bytes = random_bytes(r.u64(), count);
            static const uint8_t no_bytes[1] = {0};
            const uint8_t *src = r.one_in(12) ? nullptr : count == 0 ? no_bytes : bytes.data();
            int expected = state.input(src, count);
            require_code(sha1_input(&info, src, count), expected, "sha1_input");
        }
        require_same(state.differs(info), "sha1_input");
        for (int j = 64; j < 512; j++)
            if (info.msg_block[j] != 0)
                fail("msg_block[%d] was written; only the first 64 bytes are the block", j);
    }
    int expected = state.result();
    require_code(sha1_result(&info), expected, "sha1_result");
    require_same(state.differs(info), "sha1_result");
}

// Dumps of records holding anything at all, at every aligned offset from a 16-byte boundary.
template <class E> void dump_any(Reader &r)
{
    using Info = typename E::Info;
    alignas(16) unsigned char storage[sizeof(Info) + 16];
    std::vector<uint8_t> bytes = random_bytes(r.u64(), sizeof storage);
    std::memcpy(storage, bytes.data(), sizeof storage);
    Info *info = new (storage + alignof(Info) * r.below(16 / alignof(Info))) Info;
    check_dump_of<E>(info);
    check_dump_of<E>(nullptr);
}

void dumps(Reader &r)
{
    dump_any<Crc32>(r);
    dump_any<Md5>(r);
    dump_any<Sha1>(r);
}

std::vector<DumpField> header_fields(HANDLE const &heap, const int32_t &stt, HANDLE const &input)
{
    return {{"myheap_h", &heap, pointer_text(heap)},
            {"stt", &stt, std::to_string(stt)},
            {"input_h", &input, pointer_text(input)}};
}

} // namespace

std::vector<DumpField> dump_fields(const CRC32_INFO &info)
{
    std::vector<DumpField> fields = header_fields(info.myheap_h, info.stt, info.input_h);
    fields.push_back({"crc", &info.crc, hex8(info.crc)});
    return fields;
}

std::vector<DumpField> dump_fields(const MD5_INFO &info)
{
    std::vector<DumpField> fields = header_fields(info.myheap_h, info.stt, info.input_h);
    std::string first_row;
    for (int i = 0; i < 16; i++)
        first_row += ref::hex_z(&info.buf[i], 1).substr(0, 2) + " ";
    fields.push_back({"buf[64]", info.buf, first_row});
    fields.push_back({"count[2]", info.count, hex8(info.count[0]) + ", " + hex8(info.count[1])});
    fields.push_back(
        {"abcd[4]", info.abcd,
         hex8(info.abcd[0]) + ", " + hex8(info.abcd[1]) + ", " + hex8(info.abcd[2]) + ", " + hex8(info.abcd[3])});
    return fields;
}

std::vector<DumpField> dump_fields(const SHA1_INFO &info)
{
    std::vector<DumpField> fields = header_fields(info.myheap_h, info.stt, info.input_h);
    fields.push_back({"msg_digest[]", info.msg_digest, ""});
    return fields;
}

void run_fuzz_case(const uint8_t *data, size_t size)
{
    Reader r(data, size);
    cpu_cap_features(kPathCaps[r.below(std::size(kPathCaps))]);
    switch (r.below(5)) {
    case 0:
        file_run(r);
        break;
    case 1:
        op_sequence(r);
        break;
    case 2:
        md5_pieces(r);
        break;
    case 3:
        sha1_pieces(r);
        break;
    default:
        dumps(r);
        break;
    }
}
