// The handler object: Explorer creates one per file, initialises it with a
// stream on the file, asks for one thumbnail and releases it. One object is
// used by one thread at a time (the class is registered Apartment); objects
// on different threads share nothing.
#pragma once

#include "explorer/Handler.h"

#include <objidl.h>
#include <propsys.h>
#include <thumbcache.h>

#include <atomic>
#include <vector>

namespace qoru {

class CThumbnailProvider final : public IInitializeWithStream, public IThumbnailProvider {
 public:
  // A new object, handed out as the interface riid asks for.
  static HRESULT Create(REFIID riid, void** object) noexcept;

  CThumbnailProvider(const CThumbnailProvider&) = delete;
  CThumbnailProvider& operator=(const CThumbnailProvider&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // Reads the whole document from the stream once; the stream is not kept.
  STDMETHODIMP Initialize(IStream* stream, DWORD mode) override;
  STDMETHODIMP GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

 private:
  CThumbnailProvider();
  ~CThumbnailProvider();

  std::atomic<ULONG> references_{1};
  bool initialized_ = false;
  std::vector<unsigned char> document_;
};

}  // namespace qoru
