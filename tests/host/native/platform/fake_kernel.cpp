// The host build's stand-in kernel: in-memory files, a read log and a watched heap.
#include "fake_kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace fake {

namespace {

std::set<Device *> g_open;
uint64_t g_stray = 0;

// The process heap is a tag; blocks come from malloc so that the sanitizer watches them.
char g_heap_tag;
std::map<void *, SIZE_T> g_blocks;
HeapStats g_heap;
uint64_t g_heap_countdown = 0;

// Uninitialised heap memory and unread buffer bytes get fillers that are unlikely to pass as data.
constexpr uint8_t kHeapFiller = 0xCB;
constexpr uint8_t kUnreadFiller = 0xA5;

Device *device_of(HANDLE h)
{
    Device *d = static_cast<Device *>(h);
    return g_open.count(d) != 0 ? d : nullptr;
}

} // namespace

void fault(const char *what)
{
    std::fprintf(stderr, "fake kernel: %s\n", what);
    std::abort();
}

namespace {

// A prime period, so that the content does not repeat at any block or read boundary nearby.
constexpr uint32_t kPatternPeriod = 4093;

struct PatternTable {
    uint8_t bytes[kPatternPeriod];
    PatternTable()
    {
        uint32_t x = 0x2545F491u;
        for (uint8_t &b : bytes) {
            x ^= x << 13; // xorshift32
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x >> 24);
        }
    }
};

const PatternTable &pattern()
{
    static const PatternTable table;
    return table;
}

} // namespace

uint8_t pattern_byte(uint64_t offset) { return pattern().bytes[offset % kPatternPeriod]; }

void pattern_fill(uint64_t offset, uint8_t *dst, uint32_t n)
{
    uint32_t at = static_cast<uint32_t>(offset % kPatternPeriod);
    while (n > 0) {
        uint32_t run = std::min(n, kPatternPeriod - at);
        std::memcpy(dst, pattern().bytes + at, run);
        dst += run;
        n -= run;
        at = 0;
    }
}

uint64_t Device::size() const { return synthetic_size > 0 ? synthetic_size : data.size(); }

void Device::resize(uint64_t n)
{
    if (synthetic_size > 0) {
        synthetic_size = n;
        return;
    }
    uint64_t old = data.size();
    data.resize(n);
    for (uint64_t i = old; i < n; i++)
        data[i] = pattern_byte(i);
}

BOOL Device::read(uint8_t *dst, uint32_t want, uint32_t *got)
{
    if (!log.empty() && log.back().size == want)
        log.back().count++;
    else
        log.push_back({want, 1});
    uint64_t call = calls++;
    *got = 0;
    if (call == 0 && resize_at_first_read >= 0)
        resize(static_cast<uint64_t>(resize_at_first_read));
    if (fail_at != 0 && call + 1 == fail_at)
        return FALSE;

    uint64_t avail = pos < size() ? size() - pos : 0;
    uint32_t give = static_cast<uint32_t>(std::min<uint64_t>(want, avail));
    if (call < caps.size())
        give = std::min(give, caps[call]);
    if (synthetic_size > 0)
        pattern_fill(pos, dst, give);
    else if (give > 0)
        std::memcpy(dst, data.data() + pos, give);
    if (want > give)
        std::memset(dst + give, kUnreadFiller, want - give);
    pos += give;
    *got = give;
    return TRUE;
}

std::vector<uint32_t> Device::requests() const
{
    std::vector<uint32_t> flat;
    for (const ReadRun &run : log)
        flat.insert(flat.end(), run.count, run.size);
    return flat;
}

Open::Open(Device &device) : handle_(&device) { g_open.insert(&device); }

Open::~Open() { g_open.erase(static_cast<Device *>(handle_)); }

uint64_t stray_calls() { return g_stray; }

HeapStats heap_stats() { return g_heap; }

void heap_fail_at(uint64_t n) { g_heap_countdown = n; }

void heap_release(void *mem) { HeapFree(GetProcessHeap(), 0, mem); }

} // namespace fake

// The kernel services, in the calling convention of the host.

BOOL ReadFile(HANDLE file_h, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (overlapped != nullptr)
        fake::fault("ReadFile with an OVERLAPPED structure on a synchronous handle");
    if (read == nullptr)
        fake::fault("ReadFile without a place for the count (required without OVERLAPPED)");
    *read = 0;
    fake::Device *d = fake::device_of(file_h);
    if (d == nullptr) {
        fake::g_stray++;
        return FALSE;
    }
    if (buffer == nullptr && to_read > 0)
        fake::fault("ReadFile into a null buffer");
    uint32_t got = 0;
    BOOL ok = d->read(static_cast<uint8_t *>(buffer), static_cast<uint32_t>(to_read), &got);
    *read = got;
    return ok;
}

BOOL GetFileInformationByHandle(HANDLE file_h, LPBY_HANDLE_FILE_INFORMATION info)
{
    if (info == nullptr)
        fake::fault("GetFileInformationByHandle without a place for the answer");
    fake::Device *d = fake::device_of(file_h);
    if (d == nullptr) {
        fake::g_stray++;
        return FALSE;
    }
    d->info_calls++;
    if (d->info_fails)
        return FALSE;
    std::memset(info, 0, sizeof *info);
    info->dwFileAttributes = 0x80; // a normal file
    info->nNumberOfLinks = 1;
    info->nFileSizeHigh = static_cast<DWORD>(d->size() >> 32);
    info->nFileSizeLow = static_cast<DWORD>(d->size());
    return TRUE;
}

HANDLE GetProcessHeap(void) { return &fake::g_heap_tag; }

LPVOID HeapAlloc(HANDLE heap_h, DWORD flags, SIZE_T bytes)
{
    if (heap_h != &fake::g_heap_tag)
        fake::fault("HeapAlloc on a heap that is not the process heap");
    fake::g_heap.last_flags = flags;
    if (fake::g_heap_countdown != 0 && --fake::g_heap_countdown == 0)
        return nullptr;
    void *mem = std::malloc(bytes > 0 ? bytes : 1);
    if (mem == nullptr)
        return nullptr;
    std::memset(mem, fake::kHeapFiller, bytes); // flags 0 promise no zeroed memory
    fake::g_blocks[mem] = bytes;
    fake::g_heap.allocs++;
    fake::g_heap.live++;
    return mem;
}

BOOL HeapFree(HANDLE heap_h, DWORD flags, LPVOID mem)
{
    if (heap_h != &fake::g_heap_tag)
        fake::fault("HeapFree on a heap that is not the process heap");
    fake::g_heap.last_flags = flags;
    if (mem == nullptr)
        return TRUE;
    auto it = fake::g_blocks.find(mem);
    if (it == fake::g_blocks.end())
        fake::fault("HeapFree of a block that is not live (double free or foreign pointer)");
    fake::g_blocks.erase(it);
    std::free(mem);
    fake::g_heap.frees++;
    fake::g_heap.live--;
    return TRUE;
}
