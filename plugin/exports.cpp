// The module's five exports, under their plain names with C linkage and the
// Windows standard calling convention. Nothing else leaves the module.
#include "plugin/entry_points.h"

#ifdef _WIN32
#define ZVK_EXPORT
#else
#define ZVK_EXPORT __attribute__((visibility("default")))
#endif

#ifdef _WIN32
namespace __gnu_cxx {
void __freeres() noexcept;  // from the statically linked C++ runtime
}
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

#ifdef _WIN32
// When a host unloads the module with FreeLibrary (reserved is null; at process
// exit it is not), the statically linked C++ runtime would keep its emergency
// exception pool, about 18 KiB in a 32-bit process, for good: a viewer that
// loads and unloads plug-ins as it goes would lose that much every time.
BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) __gnu_cxx::__freeres();
  return TRUE;
}
#endif

}  // extern "C"
