// The module's five exports, under their plain names with C linkage and the
// Windows standard calling convention. Nothing else leaves the module.
#include "plugin/entry_points.h"

#ifdef _WIN32
#define ZVK_EXPORT
#else
#define ZVK_EXPORT __attribute__((visibility("default")))
#endif

using ifzvk::PictureInfo;
using ifzvk::ProgressCallback;
using ifzvk::SusieData;
using ifzvk::SusieFlag;
using ifzvk::SusieHandleOrAddress;
using ifzvk::SusieLen;

extern "C" {

ZVK_EXPORT int WINAPI GetPluginInfo(int infono, LPSTR buf, int buflen) {
  return ifzvk::GetPluginInfo(infono, buf, buflen);
}

ZVK_EXPORT int WINAPI IsSupported(LPSTR filename, SusieHandleOrAddress dw) {
  return ifzvk::IsSupported(filename, dw);
}

ZVK_EXPORT int WINAPI GetPictureInfo(LPSTR buf, SusieLen len, SusieFlag flag, PictureInfo* lpInfo) {
  return ifzvk::GetPictureInfo(buf, len, flag, lpInfo);
}

ZVK_EXPORT int WINAPI GetPicture(LPSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                                 ProgressCallback lpPrgressCallback, SusieData lData) {
  return ifzvk::GetPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData);
}

ZVK_EXPORT int WINAPI GetPreview(LPSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                                 ProgressCallback lpPrgressCallback, SusieData lData) {
  return ifzvk::GetPreview(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData);
}

}  // extern "C"
