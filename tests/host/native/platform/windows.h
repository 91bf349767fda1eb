// Host stand-in for <windows.h>: the few kernel types and services the engines use, so that the
// engine sources build unchanged for 64-bit Linux. Only the sanitized host build puts this first.
#ifndef TAVRO_HOST_WINDOWS_H
#define TAVRO_HOST_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define TRUE 1
#define FALSE 0

// The Windows widths, not the LP64 ones: DWORD and LONG stay 32 bits, handles are pointers.
typedef void *HANDLE;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR SIZE_T;
typedef DWORD *LPDWORD;
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4);

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 52);

// Opaque here: the engines never pass one, and ReadFile refuses it.
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

BOOL ReadFile(HANDLE file_h, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED overlapped);
BOOL GetFileInformationByHandle(HANDLE file_h, LPBY_HANDLE_FILE_INFORMATION info);
HANDLE GetProcessHeap(void);
LPVOID HeapAlloc(HANDLE heap_h, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap_h, DWORD flags, LPVOID mem);

#endif
