// What regsvr32 writes and removes. Under a hive's Software\Classes:
//   CLSID\{class}                    "zorvik thumbnail handler"
//   CLSID\{class}\InprocServer32     the DLL's path, ThreadingModel "Apartment"
//   .zvk\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}   "{class}"
// (the last key is where Explorer looks for a file type's thumbnail handler).
// Removing takes away exactly these: the class's key, the association only
// while it still names this class, and "CLSID", ".zvk" and its "ShellEx" only
// when nothing else is left in them. The association stays while the class is
// still registered in the other registry view (the 32-bit handler and the
// 64-bit one share it on 64-bit Windows).
#pragma once

#include "explorer/Handler.h"

namespace qoru {

// Under classes, an open Software\Classes key (or any key standing for one).
HRESULT RegisterHandler(HKEY classes, const wchar_t* modulePath) noexcept;
HRESULT UnregisterHandler(HKEY classes) noexcept;

// The caller's Software\Classes: the machine's (HKLM) when the caller runs
// elevated, else the current user's (HKCU). Closed with RegCloseKey.
HRESULT OpenCallersClasses(HKEY& classes) noexcept;

}  // namespace qoru
