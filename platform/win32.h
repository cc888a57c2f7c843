// The Win32 calls the module makes, in one place.
//
// On Windows this is <windows.h>. Elsewhere it declares the same names with the
// Windows semantics the module relies on, implemented in posix_win32.cpp:
//  - a file HANDLE is a POSIX file descriptor (so it is below 0x10000, as the
//    plug-in interface expects of a handle passed to IsSupported);
//  - a local-memory handle is the block's own address: LocalLock returns the
//    handle itself and the block is released with free() (or LocalFree).
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cstddef>
#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using HANDLE = void*;
using HLOCAL = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using PLONG = LONG*;
using LPDWORD = DWORD*;

struct LARGE_INTEGER {  // Windows' union, of which the module reads QuadPart only
  std::int64_t QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

#define WINAPI
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
constexpr UINT LMEM_FIXED = 0x0;
constexpr UINT LMEM_MOVEABLE = 0x2;
constexpr UINT LMEM_ZEROINIT = 0x40;
constexpr DWORD BI_RGB = 0;

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
#pragma pack(pop)

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void* overlapped);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(LPCSTR name);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
LPVOID LocalLock(HLOCAL block);
BOOL LocalUnlock(HLOCAL block);
HLOCAL LocalFree(HLOCAL block);
LPSTR lstrcpynA(LPSTR destination, LPCSTR source, int maxLength);
int lstrlenA(LPCSTR text);
#endif

static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
