// The class object DllGetClassObject hands out for the handler's class. It is
// one static object; each reference to it keeps the DLL loaded, since a host
// may hold it and call CreateInstance later.
#pragma once

#include "explorer/Handler.h"

#include <unknwn.h>

namespace qoru {

class CClassFactory final : public IClassFactory {
 public:
  static CClassFactory& Instance();

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;
};

}  // namespace qoru
