// The handler DLL's four exports, the ones COM and regsvr32 call.
#include <shlobj.h>

#include "explorer/ClassFactory.h"
#include "explorer/Handler.h"
#include "explorer/Registration.h"

namespace qoru {
namespace {

// Where this DLL's own file is: the address of a function in it names the module.
HRESULT ModulePath(wchar_t (&path)[MAX_PATH]) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ModulePath), &self))
    return HRESULT_FROM_WIN32(GetLastError());
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
  if (length == MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  return S_OK;
}

// Registers (or removes) the handler in the caller's Software\Classes and
// tells Explorer that file associations changed.
HRESULT ChangeRegistration(bool add) {
  HKEY classes = nullptr;
  HRESULT result = OpenCallersClasses(false, classes);
  if (FAILED(result)) return result;
  wchar_t path[MAX_PATH];
  if (add) {
    result = ModulePath(path);
    if (SUCCEEDED(result)) result = RegisterHandler(classes, path);
  } else {
    HKEY otherView = nullptr;
    if (FAILED(OpenCallersClasses(true, otherView))) otherView = nullptr;
    result = UnregisterHandler(classes, otherView);
    if (otherView != nullptr) RegCloseKey(otherView);
  }
  RegCloseKey(classes);
  if (SUCCEEDED(result)) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return result;
}

}  // namespace

}  // namespace qoru

extern "C" {

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != qoru::kThumbnailHandlerClass) return CLASS_E_CLASSNOTAVAILABLE;
  return qoru::CClassFactory::Instance().QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return qoru::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return qoru::ChangeRegistration(true); }

STDAPI DllUnregisterServer() { return qoru::ChangeRegistration(false); }

}  // extern "C"
