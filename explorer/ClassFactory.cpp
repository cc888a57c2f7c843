#include "explorer/ClassFactory.h"

#include "explorer/ThumbnailProvider.h"

namespace qoru {

CClassFactory& CClassFactory::Instance() {
  static CClassFactory factory;
  return factory;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid != __uuidof(IUnknown) && riid != __uuidof(IClassFactory)) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

// The object lives as long as the DLL; the counts keep the DLL.
STDMETHODIMP_(ULONG) CClassFactory::AddRef() {
  CountReference(true);
  return 2;
}

STDMETHODIMP_(ULONG) CClassFactory::Release() {
  CountReference(false);
  return 1;
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return CThumbnailProvider::Create(riid, object);
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock) {
  CountLock(lock != FALSE);
  return S_OK;
}

}  // namespace qoru
