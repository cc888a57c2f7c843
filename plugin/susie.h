// The Susie plug-in interface, kind "00IN", as this module speaks it.
//
// The 32-bit Windows build has the interface's 32-bit form exactly. On 64-bit
// builds len, lData and IsSupported's dw are pointer-sized, as in the
// interface's 64-bit form; flag stays an unsigned 32-bit value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

namespace ifzvk {

using SusieLen = LONG_PTR;       // file offset or memory length
using SusieData = LONG_PTR;      // the host's value for its callback
using SusieHandleOrAddress = ULONG_PTR;
using SusieFlag = std::uint32_t;

enum ResultCode : int {
  Success = 0,
  Aborted = 1,
  UnknownFormat = 2,
  OutOfMemory = 4,
  MemoryError = 5,
  FileReadError = 6,
};

// Called with (0, 1) before and (1, 1) after the picture is built; a non-zero
// answer asks the plug-in to stop.
using ProgressCallback = int(WINAPI*)(int nNum, int nDenom, SusieData lData);

#pragma pack(push, 1)
struct PictureInfo {
  std::int32_t left;
  std::int32_t top;
  std::int32_t width;
  std::int32_t height;
  std::uint16_t x_density;
  std::uint16_t y_density;
  std::int16_t colorDepth;
#if UINTPTR_MAX > 0xFFFFFFFFu
  std::uint8_t padding[2];  // 64-bit hosts expect hInfo on an 8-byte boundary
#endif
  HLOCAL hInfo;
};
#pragma pack(pop)

#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(PictureInfo) == 32 && offsetof(PictureInfo, hInfo) == 24, "64-bit PictureInfo layout");
#else
static_assert(sizeof(PictureInfo) == 26 && offsetof(PictureInfo, hInfo) == 22, "32-bit PictureInfo layout");
static_assert(sizeof(SusieLen) == 4 && sizeof(SusieData) == 4 && sizeof(SusieHandleOrAddress) == 4,
              "the 32-bit interface passes 32-bit values");
#endif
static_assert(offsetof(PictureInfo, colorDepth) == 20, "PictureInfo is byte-packed");
static_assert(sizeof(SusieLen) == sizeof(void*), "len and lData are pointer-sized");

// Bits 0-2 of flag choose the input mode; higher bits are ignored.
inline bool IsMemoryMode(SusieFlag flag) { return (flag & 7u) != 0; }

}  // namespace ifzvk
