// Loads a plug-in module at run time as a viewer does (dlopen on Linux,
// LoadLibrary on Windows) and resolves its five exports with the interface's
// own types.
#pragma once

#include <string>

#include "plugin/susie.h"

namespace ifzvk::host {

using GetPluginInfoFn = int(WINAPI*)(int infono, LPSTR buf, int buflen);
using IsSupportedFn = int(WINAPI*)(LPSTR filename, SusieHandleOrAddress dw);
using GetPictureInfoFn = int(WINAPI*)(LPSTR buf, SusieLen len, SusieFlag flag, PictureInfo* lpInfo);
using GetPictureFn = int(WINAPI*)(LPSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                                  ProgressCallback lpPrgressCallback, SusieData lData);

class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Loads the module and resolves all five exports; false (with Error()) when
  // the file cannot be loaded or an export is missing.
  bool Load(const std::string& path);
  void Unload();
  bool IsLoaded() const { return handle_ != nullptr; }
  const std::string& Error() const { return error_; }

  GetPluginInfoFn GetPluginInfo = nullptr;
  IsSupportedFn IsSupported = nullptr;
  GetPictureInfoFn GetPictureInfo = nullptr;
  GetPictureFn GetPicture = nullptr;
  GetPictureFn GetPreview = nullptr;

 private:
  void* Symbol(const char* name);

  void* handle_ = nullptr;
  std::string error_;
};

// The host's side of a local-memory block from the module. On Windows these
// are LocalLock, LocalUnlock and LocalFree; elsewhere the handle is the block's
// own address and the block is released with free().
const void* LockBlock(HLOCAL block);
void UnlockBlock(HLOCAL block);
void FreeBlock(HLOCAL block);

// The folder that holds the running program, with a trailing separator.
std::string ExecutableDirectory();

// The module's file name on this platform: ifzvk.spi, ifzvk.sph or ifzvk.so.
const char* DefaultModuleName();

}  // namespace ifzvk::host
