// What regsvr32 writes and removes. Under a hive's Software\Classes:
//   CLSID\{class}                    "zorvik thumbnail handler"
//   CLSID\{class}\InprocServer32     the DLL's path, ThreadingModel "Apartment"
//   .zvk\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}   "{class}"
// (the last key is where Explorer looks for a file type's thumbnail handler).
// Removing takes away exactly these: the class's key, the association only
// while it still names this class, and "CLSID", ".zvk" and its "ShellEx" only
// when nothing else is left in them. The association stays while the class is
// still registered in the other registry view: on 64-bit Windows the 32-bit
// handler and the 64-bit one each have their own CLSID key but share ".zvk".
#pragma once

#include "explorer/Handler.h"

namespace qoru {

// Under classes, an open Software\Classes key (or any key standing for one).
// otherView is the same key in the other registry view, or null.
HRESULT RegisterHandler(HKEY classes, const wchar_t* modulePath) noexcept;
HRESULT UnregisterHandler(HKEY classes, HKEY otherView) noexcept;

// The caller's Software\Classes: the machine's (HKLM) when the caller runs
// elevated, else the current user's (HKCU); in this code's own registry view,
// or with otherView, for reading only, in the other one (32-bit from 64-bit
// code and the other way round; on 32-bit Windows the one view there is).
// Closed with RegCloseKey.
HRESULT OpenCallersClasses(bool otherView, HKEY& classes) noexcept;

}  // namespace qoru
