// Small helpers shared by the Win32 test suites: owned handles, a private temp directory,
// files of given contents or sizes, broken pipes, stdout capture and the digest vector list.
#ifndef TAVRO_TEST_SUPPORT_H
#define TAVRO_TEST_SUPPORT_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tavro_test {

// Owns one kernel handle and closes it on every path. Holds INVALID_HANDLE_VALUE when empty.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(Handle &&other) noexcept : h_(other.release()) {}
    Handle &operator=(Handle &&other) noexcept;
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE release();
    void reset(HANDLE h = INVALID_HANDLE_VALUE);

  private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A fresh directory under the Windows temp path; removed with all it holds on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // Full path of `name` inside the directory (nothing is created).
    std::string file(const std::string &name) const;

  private:
    std::string path_;
};

// Creates or replaces `path` with exactly these bytes. false when any step fails.
bool write_file(const std::string &path, const void *data, size_t size);
bool write_file(const std::string &path, const std::string &bytes);
// Creates or replaces `path` with `size` bytes by moving the end of file (sparse on Wine's
// Linux side); nothing is written, so the contents read back as zeros.
bool make_sized_file(const std::string &path, uint64_t size);
// The whole file, or an empty vector when it cannot be read.
std::vector<uint8_t> read_file(const std::string &path);

// Opens an existing file the way the tool does: read access, no sharing, sequential scan.
Handle open_read(const std::string &path);
// Opens an existing file with `access` (e.g. GENERIC_WRITE for a handle that cannot read).
Handle open_with(const std::string &path, DWORD access);

// Read end of an anonymous pipe whose writer sent `bytes` and then closed: reads deliver the
// bytes, after which ReadFile fails (ERROR_BROKEN_PIPE). Invalid handle when it cannot be made.
Handle broken_pipe_with(const std::string &bytes);

// Runs `fn` with the C runtime's standard output (fd 1) sent to a temp file in binary mode,
// so "\n" stays one byte, and returns what it wrote. Restores fd 1 before returning.
std::string capture_stdout(const std::function<void()> &fn);

// Paths that the build compiles in come in UTF-8, as CMake writes them ("Z:/..." for Wine). An ANSI
// call reads its bytes in the process's code page (932 for the suite), so a folder named in Japanese
// would name another file there: each call gets the form it reads.
enum PathStatus {
    PATH_OK,
    PATH_NOT_UTF8,   // the bytes are no UTF-8
    PATH_TOO_LONG,   // the form does not fit the buffer given
    PATH_NOT_IN_ANSI // a character that the ANSI code page lacks: no ANSI call can name the file
};
// `utf8` in UTF-16 for the wide calls, into out[capacity] with its terminating zero.
PathStatus wide_path(const char *utf8, wchar_t *out, size_t capacity);
// `utf8` in the process's ANSI code page for the ANSI calls, into out[capacity] with its terminating
// zero. No best-fit stand-ins: a character the code page lacks is PATH_NOT_IN_ANSI.
PathStatus ansi_path(const char *utf8, char *out, size_t capacity);
// One line that names the path and why the test cannot use it; empty for PATH_OK.
std::string path_problem(const char *utf8, PathStatus status);

// Lower-case hexadecimal of `size` bytes.
std::string hex_lower(const void *bytes, size_t size);

// One line "name size crc32 md5 sha1" of a list written by tests/vectors/make_vectors.py.
struct DigestVector {
    std::string name; // file name inside the vector directory
    uint64_t size = 0;
    std::string crc32; // 8 lower-case hex digits
    std::string md5;   // 32 lower-case hex digits
    std::string sha1;  // 40 lower-case hex digits
};
// Every entry of the list file; empty when the file cannot be read.
std::vector<DigestVector> load_digest_vectors(const std::string &list_path);

} // namespace tavro_test

#endif
