// The host benchmark's stand-in kernel services. No checks and no logging: they are timed.
#include "mem_kernel.h"

#include <stdlib.h>
#include <string.h>

void mem_file_rewind(MEM_FILE *file)
{
    file->pos = 0;
    file->largest_request = 0;
}

BOOL ReadFile(HANDLE file_h, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED)
{
    MEM_FILE *file = static_cast<MEM_FILE *>(file_h);
    uint64_t left = file->size - file->pos;
    DWORD n = left < to_read ? static_cast<DWORD>(left) : to_read;
    memcpy(buffer, file->data + file->pos, n);
    file->pos += n;
    if (to_read > file->largest_request)
        file->largest_request = to_read;
    *read = n;
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file_h, LPBY_HANDLE_FILE_INFORMATION info)
{
    const MEM_FILE *file = static_cast<const MEM_FILE *>(file_h);
    memset(info, 0, sizeof *info);
    info->dwFileAttributes = 0x80; // a normal file
    info->nNumberOfLinks = 1;
    info->nFileSizeHigh = static_cast<DWORD>(file->size >> 32);
    info->nFileSizeLow = static_cast<DWORD>(file->size);
    return TRUE;
}

// The process heap is a tag; the engines' records on the stack never reach it here.
static char g_heap_tag;

HANDLE GetProcessHeap(void) { return &g_heap_tag; }

LPVOID HeapAlloc(HANDLE, DWORD, SIZE_T bytes) { return malloc(bytes > 0 ? bytes : 1); }

BOOL HeapFree(HANDLE, DWORD, LPVOID mem)
{
    free(mem);
    return TRUE;
}
