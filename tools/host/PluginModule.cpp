#include "tools/host/PluginModule.h"

#include <cstdlib>

#ifndef _WIN32
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace ifzvk::host {

PluginModule::~PluginModule() { Unload(); }

bool PluginModule::Load(const std::string& path) {
  Unload();
#ifdef _WIN32
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (handle_ == nullptr) {
    error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return false;
  }
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = why != nullptr ? why : "dlopen failed";
    return false;
  }
#endif
  GetPluginInfo = reinterpret_cast<GetPluginInfoFn>(Symbol("GetPluginInfo"));
  IsSupported = reinterpret_cast<IsSupportedFn>(Symbol("IsSupported"));
  GetPictureInfo = reinterpret_cast<GetPictureInfoFn>(Symbol("GetPictureInfo"));
  GetPicture = reinterpret_cast<GetPictureFn>(Symbol("GetPicture"));
  GetPreview = reinterpret_cast<GetPictureFn>(Symbol("GetPreview"));
  if (!GetPluginInfo || !IsSupported || !GetPictureInfo || !GetPicture || !GetPreview) {
    Unload();
    error_ = "the module lacks one of the five plug-in exports";
    return false;
  }
  return true;
}

void PluginModule::Unload() {
  if (handle_ != nullptr) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
  }
  handle_ = nullptr;
  GetPluginInfo = nullptr;
  IsSupported = nullptr;
  GetPictureInfo = nullptr;
  GetPicture = nullptr;
  GetPreview = nullptr;
}

void* PluginModule::Symbol(const char* name) {
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

const void* LockBlock(HLOCAL block) {
#ifdef _WIN32
  return LocalLock(block);
#else
  return block;
#endif
}

void UnlockBlock(HLOCAL block) {
#ifdef _WIN32
  LocalUnlock(block);
#else
  (void)block;
#endif
}

void FreeBlock(HLOCAL block) {
#ifdef _WIN32
  if (block != nullptr) LocalFree(block);
#else
  std::free(block);
#endif
}

std::string ExecutableDirectory() {
  std::string path;
#ifdef _WIN32
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) path.assign(buffer, length);
  const auto slash = path.find_last_of("\\/");
#else
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length > 0) path.assign(buffer, static_cast<std::size_t>(length));
  const auto slash = path.find_last_of('/');
#endif
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

const char* DefaultModuleName() {
#if defined(_WIN64)
  return "ifzvk.sph";
#elif defined(_WIN32)
  return "ifzvk.spi";
#else
  return "ifzvk.so";
#endif
}

}  // namespace ifzvk::host
