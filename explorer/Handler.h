// ifzvk-thumbnail.dll: Windows Explorer's thumbnail handler for zorvik
// documents, an in-process COM server. Explorer hands the handler a stream on
// the file (IInitializeWithStream) and asks for a picture of at most cx x cx
// pixels (IThumbnailProvider); the handler shows the preview the document
// carries, through the document layer's in-memory route.
//
// Explorer calls handlers on several threads at once, in a process of its
// own: nothing here keeps a file, a current directory or shared state, except
// the two counts DllCanUnloadNow answers from.
#pragma once

#include "platform/win32.h"

namespace qoru {

// The handler's class: {C039161F-6399-4EFA-A827-789C38564B11}.
constexpr CLSID kThumbnailHandlerClass = {
    0xC039161F, 0x6399, 0x4EFA, {0xA8, 0x27, 0x78, 0x9C, 0x38, 0x56, 0x4B, 0x11}};
constexpr const wchar_t* kThumbnailHandlerClassText = L"{C039161F-6399-4EFA-A827-789C38564B11}";

// What keeps the DLL loaded: live handler objects, references to the class
// factory, and IClassFactory::LockServer locks.
void CountReference(bool added);
void CountLock(bool added);
bool ModuleInUse();

}  // namespace qoru
