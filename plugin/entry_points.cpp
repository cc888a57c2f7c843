#include "plugin/entry_points.h"

#include <cstdint>
#include <limits>

#include "document/Limits.h"
#include "platform/memory.h"
#include "plugin/bitmap.h"
#include "plugin/version.h"

namespace ifzvk {
namespace {

const char* const kPluginInfo[] = {
    "00IN",                // interface version and kind: image input
    ZVK_PRODUCT_NAME,      // name and version
    "*.zvk",               // file pattern
    "zorvik (*.zvk)",      // file type as the user sees it
};
constexpr int kPluginInfoCount = 4;

HANDLE OpenForReading(LPCSTR name) {
  return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Positions the file at the host's offset. Without a high part SetFilePointer
// reaches at most 2^31 - 1, so INVALID_SET_FILE_POINTER is always a failure,
// even when the offset asked for happens to have the same value.
bool SeekTo(HANDLE file, ULONG_PTR offset) {
  const DWORD position = SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
  return position != INVALID_SET_FILE_POINTER && position == offset;
}

// The whole file size, 4 GiB and more included.
bool FileSize(HANDLE file, std::uint64_t& size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(file, &value) || value.QuadPart < 0) return false;
  size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

// One document block holds at most this much: one ReadFile call counts in
// 32 bits, and a 32-bit build cannot address more either.
static_assert(limits::kMaxDocumentBytes <= std::numeric_limits<DWORD>::max() &&
                  limits::kMaxDocumentBytes <= std::numeric_limits<SIZE_T>::max(),
              "a document block is read in one call");

// The whole document from `offset` to the end of the file, in one fixed block.
struct DocumentImage {
  HLOCAL block = nullptr;
  DWORD length = 0;
};

ResultCode LoadDocumentImage(LPCSTR name, ULONG_PTR offset, DocumentImage& image) {
  HANDLE file = OpenForReading(name);
  if (file == INVALID_HANDLE_VALUE) return FileReadError;
  std::uint64_t size = 0;
  if (!FileSize(file, size)) {
    CloseHandle(file);
    return FileReadError;
  }
  if (offset > size || size - offset < kDocumentHeaderSize) {
    CloseHandle(file);
    return UnknownFormat;
  }
  if (!SeekTo(file, offset)) {
    CloseHandle(file);
    return FileReadError;
  }
  // A document that no block can hold is refused before anything is read.
  if (size - offset > limits::kMaxDocumentBytes) {
    CloseHandle(file);
    return OutOfMemory;
  }
  const auto available = static_cast<DWORD>(size - offset);
  HLOCAL block = sys::AllocLocal(LMEM_FIXED, available);
  if (block == nullptr) {
    CloseHandle(file);
    return OutOfMemory;
  }
  DWORD got = 0;
  if (!ReadFile(file, block, available, &got, nullptr)) {
    CloseHandle(file);
    sys::FreeLocal(block);
    return FileReadError;
  }
  CloseHandle(file);
  if (got != available) {
    sys::FreeLocal(block);
    return FileReadError;
  }
  image.block = block;
  image.length = available;
  return Success;
}

}  // namespace

ResultCode FillPictureInfo(PictureInfo* info) {
  // The same record for every document: the real size reaches the host only
  // in the bitmap header that GetPicture returns.
  info->left = 0;
  info->top = 0;
  info->width = 1;
  info->height = 1;
  info->x_density = 0;
  info->y_density = 0;
  info->colorDepth = 24;
#if UINTPTR_MAX > 0xFFFFFFFFu
  info->padding[0] = info->padding[1] = 0;
#endif
  info->hInfo = nullptr;
  return Success;
}

int GetPluginInfo(int infono, LPSTR buf, int buflen) {
  if (infono < 0 || infono >= kPluginInfoCount) return 0;
  if (buflen <= 0) return 0;  // no room even for the terminator: buf is not touched
  lstrcpynA(buf, kPluginInfo[infono], buflen);
  return lstrlenA(buf);
}

int IsSupported(LPCSTR /*filename*/, SusieHandleOrAddress dw) {
  // A value below 0x10000 is a file handle, anything else the address of the
  // file's first bytes in the host's memory.
  if ((dw & ~static_cast<SusieHandleOrAddress>(0xFFFF)) != 0)
    return HasDocumentMagic(reinterpret_cast<const unsigned char*>(dw)) ? 1 : 0;

  unsigned char header[kDocumentHeaderSize];
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(dw), header, sizeof header, &got, nullptr)) return 0;
  if (got < sizeof kDocumentMagic) return 0;
  return HasDocumentMagic(header) ? 1 : 0;
}

int GetPictureInfo(LPCSTR buf, SusieLen len, SusieFlag flag, PictureInfo* lpInfo) {
  const auto count = static_cast<ULONG_PTR>(len);
  unsigned char header[kDocumentHeaderSize];
  const unsigned char* bytes = header;
  if (IsMemoryMode(flag)) {
    if (count < kDocumentHeaderSize) return UnknownFormat;
    bytes = reinterpret_cast<const unsigned char*>(buf);
  } else {
    HANDLE file = OpenForReading(buf);
    if (file == INVALID_HANDLE_VALUE) return FileReadError;
    if (!SeekTo(file, count)) {
      CloseHandle(file);
      return FileReadError;
    }
    DWORD got = 0;
    const BOOL read = ReadFile(file, header, sizeof header, &got, nullptr);
    CloseHandle(file);
    if (!read) return FileReadError;
    if (got != sizeof header) return UnknownFormat;
  }
  if (!HasDocumentMagic(bytes)) return UnknownFormat;
  return FillPictureInfo(lpInfo);
}

namespace {

// The picture request itself; GetPicture adds what the host is promised on
// failure.
ResultCode MakePicture(LPCSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                ProgressCallback lpPrgressCallback, SusieData lData) {
  const auto count = static_cast<ULONG_PTR>(len);
  if (IsMemoryMode(flag)) {
    if (count < kDocumentHeaderSize) return UnknownFormat;
    const auto* document = reinterpret_cast<const unsigned char*>(buf);
    if (!HasDocumentMagic(document)) return UnknownFormat;
    return BuildBitmap(document, count, pHBInfo, pHBm, lpPrgressCallback, lData);
  }

  DocumentImage image;
  const ResultCode loaded = LoadDocumentImage(buf, count, image);
  if (loaded != Success) return loaded;
  const auto* document = static_cast<const unsigned char*>(image.block);
  const ResultCode result = HasDocumentMagic(document)
                         ? BuildBitmap(document, image.length, pHBInfo, pHBm, lpPrgressCallback, lData)
                         : UnknownFormat;
  sys::FreeLocal(image.block);
  return result;
}

}  // namespace

int GetPicture(LPCSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               ProgressCallback lpPrgressCallback, SusieData lData) {
  const int result = MakePicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData);
  // After a memory failure, whichever block it was, the host finds no handle.
  if (result == OutOfMemory || result == MemoryError) *pHBInfo = *pHBm = nullptr;
  return result;
}

int GetPreview(LPCSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               ProgressCallback lpPrgressCallback, SusieData lData) {
  return GetPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData);
}

}  // namespace ifzvk
