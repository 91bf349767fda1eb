// Controls of the host build's stand-in kernel: in-memory files that can misbehave like a real
// device, a log of every read request, and a watched process heap.
#ifndef TAVRO_HOST_FAKE_KERNEL_H
#define TAVRO_HOST_FAKE_KERNEL_H

#include <windows.h>

#include <cstdint>
#include <vector>

namespace fake {

// `count` consecutive ReadFile calls that each asked for `size` bytes.
struct ReadRun {
    uint32_t size;
    uint64_t count;
    bool operator==(const ReadRun &) const = default;
};

// Content of synthetic files at `offset`: a table with a prime period, cheap to copy.
uint8_t pattern_byte(uint64_t offset);
void pattern_fill(uint64_t offset, uint8_t *dst, uint32_t n);

// A file behind a handle. A value type, so that a test can copy it, replay the reads it expects
// on the copy and compare both afterwards.
struct Device {
    std::vector<uint8_t> data;   // the content, unless synthetic_size is set
    uint64_t synthetic_size = 0; // > 0: a file of that many pattern bytes, none of them stored
    uint64_t pos = 0;            // where the next read starts

    // Misbehaviour.
    std::vector<uint32_t> caps;        // call k (from 0) returns at most caps[k] bytes; later calls: no cap
    uint64_t fail_at = 0;              // the n-th call (from 1) returns FALSE; 0: never
    bool info_fails = false;           // GetFileInformationByHandle answers FALSE
    int64_t resize_at_first_read = -1; // the size the file takes just before its first read

    // Observations.
    uint64_t calls = 0;       // ReadFile calls so far
    uint64_t info_calls = 0;  // GetFileInformationByHandle calls so far
    std::vector<ReadRun> log; // every read request, run-length coded

    uint64_t size() const;
    // Growth appends pattern bytes; only for stored content.
    void resize(uint64_t n);
    // One ReadFile. Every one of the `want` requested bytes is written (the ones past the bytes
    // read with a filler), so that the sanitizer checks the buffer the caller claims to own.
    BOOL read(uint8_t *dst, uint32_t want, uint32_t *got);
    // The log as a flat list of request sizes, for small logs.
    std::vector<uint32_t> requests() const;
};

// A device made visible through a handle for as long as this object lives.
class Open {
  public:
    explicit Open(Device &device);
    ~Open();
    Open(const Open &) = delete;
    Open &operator=(const Open &) = delete;
    HANDLE handle() const { return handle_; }

  private:
    HANDLE handle_;
};

// ReadFile or GetFileInformationByHandle calls on a handle that is not open.
uint64_t stray_calls();

struct HeapStats {
    uint64_t allocs = 0;  // successful HeapAlloc calls
    uint64_t frees = 0;   // HeapFree calls that released a block
    uint64_t live = 0;    // blocks not yet given back
    DWORD last_flags = 0; // flags of the last HeapAlloc or HeapFree
};
HeapStats heap_stats();
// The n-th HeapAlloc from now (from 1) returns null; 0: none fails.
void heap_fail_at(uint64_t n);
// Releases a block the way HeapFree would, for records whose heap handle was cleared by init.
void heap_release(void *mem);

// An engine broke the platform's rules (an overlapped read, a foreign heap): report and abort,
// which the fuzzer and the tests both see as a crash.
[[noreturn]] void fault(const char *what);

} // namespace fake

#endif
