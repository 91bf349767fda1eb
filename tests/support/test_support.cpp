// Helpers shared by the Win32 test suites.
#include "test_support.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace tavro_test {

Handle &Handle::operator=(Handle &&other) noexcept
{
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

HANDLE Handle::release()
{
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
}

void Handle::reset(HANDLE h)
{
    if (valid()) {
        CloseHandle(h_);
    }
    h_ = h;
}

TempDir::TempDir()
{
    char base[MAX_PATH + 1] = {};
    DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) {
        return;
    }
    // The process id and a counter keep parallel test processes and fixtures apart.
    static unsigned s_counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[MAX_PATH + 64];
        snprintf(name, sizeof name, "%stavro-%lu-%u", base, GetCurrentProcessId(), s_counter++);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            return;
        }
    }
}

// Removes a directory and everything below it.
static void remove_tree(const std::string &dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string path = dir + "\\" + fd.cFileName;
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileA(path.c_str());
            } else if (strcmp(fd.cFileName, ".") != 0 && strcmp(fd.cFileName, "..") != 0) {
                remove_tree(path);
            }
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

TempDir::~TempDir()
{
    if (!path_.empty()) {
        remove_tree(path_);
    }
}

std::string TempDir::file(const std::string &name) const { return path_ + "\\" + name; }

bool write_file(const std::string &path, const void *data, size_t size)
{
    Handle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) {
        return false;
    }
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        DWORD want = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(h.get(), p, want, &done, nullptr) || done != want) {
            return false;
        }
        p += done;
        size -= done;
    }
    return true;
}

bool write_file(const std::string &path, const std::string &bytes)
{
    return write_file(path, bytes.data(), bytes.size());
}

bool make_sized_file(const std::string &path, uint64_t size)
{
    Handle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) {
        return false;
    }
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(h.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(h.get());
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::vector<uint8_t> out;
    Handle h = open_read(path);
    if (!h.valid()) {
        return out;
    }
    uint8_t buf[65536];
    DWORD n = 0;
    while (ReadFile(h.get(), buf, sizeof buf, &n, nullptr) && n > 0) {
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

Handle open_read(const std::string &path)
{
    return Handle(
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

Handle open_with(const std::string &path, DWORD access)
{
    return Handle(CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

Handle broken_pipe_with(const std::string &bytes)
{
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    // The pipe buffer must hold all bytes: nobody reads while the writer writes.
    DWORD capacity = static_cast<DWORD>(bytes.size()) + 4096;
    if (!CreatePipe(&r, &w, nullptr, capacity)) {
        return Handle();
    }
    Handle reader(r);
    Handle writer(w);
    DWORD done = 0;
    if (!bytes.empty() && (!WriteFile(writer.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) ||
                           done != bytes.size())) {
        return Handle();
    }
    return reader;
}

std::string capture_stdout(const std::function<void()> &fn)
{
    char base[MAX_PATH + 1] = {};
    char name[MAX_PATH + 1] = {};
    if (!GetTempPathA(sizeof base, base) || !GetTempFileNameA(base, "out", 0, name)) {
        return "<capture failed>";
    }
    fflush(stdout);
    int saved = _dup(1);
    int fd = _open(name, _O_RDWR | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    std::string text;
    if (saved >= 0 && fd >= 0 && _dup2(fd, 1) == 0) {
        fn();
        fflush(stdout);
        _dup2(saved, 1);
        _lseek(fd, 0, SEEK_SET);
        char buf[4096];
        int n;
        while ((n = _read(fd, buf, sizeof buf)) > 0) {
            text.append(buf, static_cast<size_t>(n));
        }
    } else {
        text = "<capture failed>";
    }
    if (fd >= 0) {
        _close(fd);
    }
    if (saved >= 0) {
        _close(saved);
    }
    DeleteFileA(name);
    return text;
}

PathStatus wide_path(const char *utf8, wchar_t *out, size_t capacity)
{
    if (capacity == 0) {
        return PATH_TOO_LONG;
    }
    out[0] = L'\0';
    int room = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out, room) > 0) {
        return PATH_OK;
    }
    out[0] = L'\0';
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? PATH_TOO_LONG : PATH_NOT_UTF8;
}

PathStatus ansi_path(const char *utf8, char *out, size_t capacity)
{
    if (capacity == 0) {
        return PATH_TOO_LONG;
    }
    out[0] = '\0';
    wchar_t wide[4 * MAX_PATH];
    PathStatus status = wide_path(utf8, wide, sizeof wide / sizeof wide[0]);
    if (status != PATH_OK) {
        return status;
    }
    int room = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    // A UTF-8 code page takes no "used default" flag and lacks no character.
    UINT page = GetACP();
    BOOL used_default = FALSE;
    int n = page == CP_UTF8
                ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, room, nullptr, nullptr)
                : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, out, room, nullptr, &used_default);
    if (n <= 0) {
        out[0] = '\0';
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? PATH_TOO_LONG : PATH_NOT_IN_ANSI;
    }
    if (used_default) {
        out[0] = '\0';
        return PATH_NOT_IN_ANSI;
    }
    return PATH_OK;
}

std::string path_problem(const char *utf8, PathStatus status)
{
    char why[128] = "";
    switch (status) {
    case PATH_OK:
        return std::string();
    case PATH_NOT_UTF8:
        snprintf(why, sizeof why, "is not UTF-8");
        break;
    case PATH_TOO_LONG:
        snprintf(why, sizeof why, "is too long for the test's buffer");
        break;
    case PATH_NOT_IN_ANSI:
        snprintf(why, sizeof why,
                 "cannot be written in code page %u, which this test's file calls read: "
                 "use a folder whose name can",
                 GetACP());
        break;
    }
    return std::string(utf8) + ": the path " + why;
}

std::string hex_lower(const void *bytes, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    std::string s;
    s.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
    return s;
}

std::vector<DigestVector> load_digest_vectors(const std::string &list_path)
{
    std::vector<DigestVector> out;
    std::vector<uint8_t> raw = read_file(list_path);
    std::istringstream in(std::string(raw.begin(), raw.end()));
    DigestVector v;
    while (in >> v.name >> v.size >> v.crc32 >> v.md5 >> v.sha1) {
        out.push_back(v);
    }
    return out;
}

} // namespace tavro_test
