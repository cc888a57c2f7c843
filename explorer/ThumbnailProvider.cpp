#include "explorer/ThumbnailProvider.h"

#include <new>

#include "document/Limits.h"
#include "explorer/DocumentStream.h"
#include "explorer/Thumbnail.h"

namespace qoru {

CThumbnailProvider::CThumbnailProvider() { CountReference(true); }
CThumbnailProvider::~CThumbnailProvider() { CountReference(false); }

HRESULT CThumbnailProvider::Create(REFIID riid, void** object) noexcept {
  auto* provider = new (std::nothrow) CThumbnailProvider;
  if (provider == nullptr) {
    *object = nullptr;
    return E_OUTOFMEMORY;
  }
  const HRESULT asked = provider->QueryInterface(riid, object);
  provider->Release();  // the caller's reference, if any, keeps it
  return asked;
}

STDMETHODIMP CThumbnailProvider::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IInitializeWithStream))
    *object = static_cast<IInitializeWithStream*>(this);
  else if (riid == __uuidof(IThumbnailProvider))
    *object = static_cast<IThumbnailProvider*>(this);
  else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CThumbnailProvider::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) CThumbnailProvider::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP CThumbnailProvider::Initialize(IStream* stream, DWORD) {
  if (stream == nullptr) return E_INVALIDARG;
  if (initialized_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
  const HRESULT read = ReadWholeDocument(*stream, ifzvk::limits::kMaxDocumentBytes, document_);
  if (FAILED(read)) {
    document_ = {};
    return read;
  }
  initialized_ = true;
  return S_OK;
}

STDMETHODIMP CThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) {
  if (bitmap == nullptr || alpha == nullptr) return E_POINTER;
  *bitmap = nullptr;
  *alpha = WTSAT_UNKNOWN;
  if (!initialized_) return E_UNEXPECTED;
  if (cx == 0) return E_INVALIDARG;
  const HRESULT made = MakeThumbnail(document_.data(), document_.size(), cx, *bitmap);
  if (SUCCEEDED(made)) *alpha = WTSAT_RGB;
  return made;
}

}  // namespace qoru
