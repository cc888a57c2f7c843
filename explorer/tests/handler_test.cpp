// ifzvk-thumbnail.dll as Explorer uses it, under Wine: loaded from beside this
// program, asked for its class object, handed streams, asked for thumbnails.
#include <gtest/gtest.h>

#include <shlwapi.h>
#include <thumbcache.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "explorer/Handler.h"
#include "explorer/Registration.h"
#include "image/Scale.h"
#include "support/ViewerCases.h"

namespace {

using ifzvk::test::PictureDocument;
using Pixels = std::vector<std::uint32_t>;

struct Releaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using Owned = std::unique_ptr<Interface, Releaser>;

const std::string kSample = ZVK_SOURCE_DIR "/examples/sample.zvk";

std::wstring HandlerPath() {
  wchar_t path[MAX_PATH];
  std::wstring program(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  return program.substr(0, program.find_last_of(L'\\') + 1) + L"ifzvk-thumbnail.dll";
}

// The DLL stays loaded for the whole program, as in Explorer's process.
template <typename Function>
Function Export(const char* name) {
  static const HMODULE dll = LoadLibraryW(HandlerPath().c_str());
  const auto function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  if (function == nullptr) std::abort();  // no DLL beside the program, or not this export
  return function;
}
HRESULT CanUnloadNow() { return Export<decltype(&DllCanUnloadNow)>("DllCanUnloadNow")(); }

Owned<IClassFactory> Factory() {
  void* factory = nullptr;
  EXPECT_EQ(Export<decltype(&DllGetClassObject)>("DllGetClassObject")(qoru::kThumbnailHandlerClass,
                                                                       __uuidof(IClassFactory), &factory),
            S_OK);
  return Owned<IClassFactory>(static_cast<IClassFactory*>(factory));
}

// How a handler comes to be: through the DLL's class factory, or through COM.
using Create = std::function<HRESULT(REFIID, void**)>;
Create ThroughFactory(IClassFactory& factory) {
  return [&factory](REFIID riid, void** object) { return factory.CreateInstance(nullptr, riid, object); };
}

Owned<IStream> FileStream(const std::string& path) {
  IStream* stream = nullptr;
  const std::wstring wide(path.begin(), path.end());
  EXPECT_EQ(SHCreateStreamOnFileEx(wide.c_str(), STGM_READ, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream), S_OK);
  return Owned<IStream>(stream);
}
Owned<IStream> MemoryStream(const ifzvk::test::Bytes& bytes) {
  return Owned<IStream>(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
}

// What a handler gave, read back from the bitmap (then deleted).
struct Thumbnail {
  HRESULT result = E_FAIL;
  bool bitmapMade = false;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  int width = 0, height = 0, bitsPerPixel = 0;
  bool topDown = false;  // its block holds the rows as shown, top row first
  Pixels rgb;            // as GDI shows it, rows from the top, 0x00RRGGBB
};

void ReadBack(HBITMAP bitmap, Thumbnail& thumbnail) {
  DIBSECTION section{};
  if (GetObjectW(bitmap, sizeof section, &section) != sizeof section) return;
  thumbnail.width = section.dsBmih.biWidth;
  thumbnail.height = std::abs(section.dsBmih.biHeight);
  thumbnail.bitsPerPixel = section.dsBmih.biBitCount;
  if (thumbnail.bitsPerPixel != 32) return;
  thumbnail.rgb.resize(static_cast<std::size_t>(thumbnail.width) * static_cast<std::size_t>(thumbnail.height));
  BITMAPINFO shown{{sizeof(BITMAPINFOHEADER), thumbnail.width, -thumbnail.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}};
  HDC dc = CreateCompatibleDC(nullptr);
  GetDIBits(dc, bitmap, 0, static_cast<UINT>(thumbnail.height), thumbnail.rgb.data(), &shown, DIB_RGB_COLORS);
  DeleteDC(dc);
  const auto* block = static_cast<const std::uint32_t*>(section.dsBm.bmBits);
  thumbnail.topDown = true;
  for (std::size_t i = 0; i < thumbnail.rgb.size(); ++i) {
    thumbnail.rgb[i] &= 0xFFFFFFu;  // Explorer reads no more of a WTSAT_RGB pixel
    thumbnail.topDown = thumbnail.topDown && (block[i] & 0xFFFFFFu) == thumbnail.rgb[i];
  }
}

Thumbnail ThumbnailOf(const Create& create, IStream* stream, UINT box) {
  Thumbnail thumbnail;
  IInitializeWithStream* initialiser = nullptr;
  thumbnail.result = create(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&initialiser));
  if (FAILED(thumbnail.result)) return thumbnail;
  const Owned<IInitializeWithStream> owned(initialiser);
  thumbnail.result = initialiser->Initialize(stream, STGM_READ);
  if (FAILED(thumbnail.result)) return thumbnail;
  IThumbnailProvider* provider = nullptr;
  EXPECT_EQ(initialiser->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)), S_OK);
  HBITMAP bitmap = nullptr;
  thumbnail.result = Owned<IThumbnailProvider>(provider)->GetThumbnail(box, &bitmap, &thumbnail.alpha);
  thumbnail.bitmapMade = bitmap != nullptr;
  if (bitmap != nullptr) {
    ReadBack(bitmap, thumbnail);
    DeleteObject(bitmap);
  }
  return thumbnail;
}

// The picture scaled to fit box x box, 0x00RRGGBB.
Pixels Expected(const PictureDocument& picture, UINT box, qoru::PictureSize& size) {
  const qoru::PictureSize full{picture.width, picture.height};
  size = qoru::FitWithin(full, static_cast<int>(box));
  Pixels scaled(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height));
  EXPECT_TRUE(qoru::ScaleByAreaAverage(picture.pixels.data(), full, scaled.data(), size));
  for (auto& pixel : scaled) pixel &= 0xFFFFFFu;
  return scaled;
}

// Explorer's large and medium icons of the sample, from a stream on its file:
// 32-bit, top-down, WTSAT_RGB, the stored preview scaled by area averaging.
void ExpectSampleThumbnails(const Create& create) {
  const PictureDocument sample = ifzvk::test::PictureDocuments(kSample)[0];
  for (const UINT box : {256u, 96u}) {
    SCOPED_TRACE(box);
    const Thumbnail thumbnail = ThumbnailOf(create, FileStream(kSample).get(), box);
    qoru::PictureSize size;
    const Pixels expected = Expected(sample, box, size);
    ASSERT_EQ(thumbnail.result, S_OK);
    EXPECT_EQ(thumbnail.alpha, WTSAT_RGB);
    EXPECT_EQ(thumbnail.bitsPerPixel, 32);
    EXPECT_TRUE(thumbnail.topDown);
    EXPECT_EQ(thumbnail.width, size.width);
    EXPECT_EQ(thumbnail.height, size.height);
    EXPECT_TRUE(thumbnail.rgb == expected) << "not the stored preview scaled to fit " << box;
  }
}

TEST(ThumbnailHandler, ShowsTheSampleAtExplorersSizes) {
  ExpectSampleThumbnails(ThroughFactory(*Factory()));
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// Explorer keeps its own icon for these: a failure and no bitmap, and no
// object left behind.
TEST(ThumbnailHandler, DocumentsWithoutAUsablePreviewGiveAFailure) {
  {
    const auto factory = Factory();
    for (const auto& c : ifzvk::test::BrokenDocuments()) {
      SCOPED_TRACE(c.title);
      const Thumbnail thumbnail = ThumbnailOf(ThroughFactory(*factory), MemoryStream(c.bytes).get(), 256);
      EXPECT_EQ(thumbnail.result, HRESULT_FROM_WIN32(c.reason != nullptr ? ERROR_INVALID_DATA : ERROR_BAD_FORMAT));
      EXPECT_FALSE(thumbnail.bitmapMade);
    }
  }
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// A file larger than a document may be is refused from its size alone, and a
// large foreign one after its first piece.
TEST(ThumbnailHandler, RefusesLargeStreamsBeforeReadingThemThrough) {
  wchar_t folder[MAX_PATH], path[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, L"zvk", 0, path);
  const auto factory = Factory();
  for (const auto& [size, expected] : {std::pair{0x100000001ll, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
                                       std::pair{0x10000000ll, HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)}}) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const LARGE_INTEGER end{{static_cast<DWORD>(size), static_cast<LONG>(size >> 32)}};
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));  // sparse, no bytes written
    CloseHandle(file);
    IStream* stream = nullptr;
    ASSERT_EQ(SHCreateStreamOnFileEx(path, STGM_READ, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream), S_OK);
    EXPECT_EQ(ThumbnailOf(ThroughFactory(*factory), stream, 256).result, expected);
    ULARGE_INTEGER read{};
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &read);
    EXPECT_LE(read.QuadPart, 64u * 1024) << "bytes read of " << size;
    stream->Release();
  }
  DeleteFileW(path);
}

// The DLL may go only when no object, no reference to the factory and no
// lock is left.
TEST(ThumbnailHandler, CountsWhatKeepsTheDllLoaded) {
  void* object = nullptr;
  {
    const auto factory = Factory();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "while the factory is held";
    EXPECT_EQ(factory->CreateInstance(factory.get(), __uuidof(IUnknown), &object), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider), &object), S_OK);
    factory->LockServer(TRUE);
  }
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "while an object lives and the server is locked";
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "while the server is locked";
  Factory()->LockServer(FALSE);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// Explorer asks on several threads at once; each gets its own document's picture.
TEST(ThumbnailHandler, FourThreadsGetTheirOwnPictures) {
  const std::vector<PictureDocument> pictures = ifzvk::test::PictureDocuments(kSample);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const auto factory = Factory();
      for (std::size_t round = 0; round < 20; ++round) {
        const PictureDocument& picture = pictures[(t + round) % pictures.size()];
        qoru::PictureSize size;
        const Thumbnail thumbnail = ThumbnailOf(ThroughFactory(*factory), MemoryStream(picture.bytes).get(), 96);
        if (thumbnail.result != S_OK || thumbnail.rgb != Expected(picture, 96, size)) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// --- Registration

const std::wstring kClassKey = std::wstring(L"CLSID\\") + qoru::kThumbnailHandlerClassText;
const std::wstring kServerKey = kClassKey + L"\\InprocServer32";
const std::wstring kAssociation = L".zvk\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

std::wstring Text(HKEY root, const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t text[MAX_PATH] = {};
  DWORD bytes = sizeof text;
  RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

// Every key below root with its default value (a key without one shows "").
using Tree = std::map<std::wstring, std::wstring>;
void ReadTree(HKEY root, const std::wstring& path, Tree& tree) {
  tree[path] = Text(root, path);
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  wchar_t name[256];
  for (DWORD i = 0, length = 256; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, length = 256)
    ReadTree(root, path.empty() ? name : path + L"\\" + name, tree);
  RegCloseKey(key);
}
Tree TreeOf(HKEY root) {
  Tree tree;
  ReadTree(root, L"", tree);
  return tree;
}

// In scratch keys standing for Software\Classes in this registry view and in
// the other: registering adds the class and the association; removing leaves
// what others keep there, an association another handler took over meanwhile,
// and the association while the other view's handler still needs it.
TEST(Registration, RemovesExactlyWhatItAdded) {
  const std::wstring other = L"{1}";  // another handler's class
  const wchar_t* scratch = L"Software\\ifzvk-registration-test";
  const wchar_t* otherViewScratch = L"Software\\ifzvk-registration-test-other-view";
  enum Case { kOthersKept, kTakenOver, kOtherViewRegistered };
  for (const Case c : {kOthersKept, kTakenOver, kOtherViewRegistered}) {
    SCOPED_TRACE(c);
    HKEY classes = nullptr, otherView = nullptr;
    for (const wchar_t* key : {scratch, otherViewScratch}) RegDeleteTreeW(HKEY_CURRENT_USER, key);
    RegCreateKeyExW(HKEY_CURRENT_USER, scratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes, nullptr);
    RegCreateKeyExW(HKEY_CURRENT_USER, otherViewScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &otherView, nullptr);
    for (const std::wstring key : {L".zvk", L".zvk\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}", L"CLSID\\{1}"})
      RegSetValueW(classes, key.c_str(), REG_SZ, other.c_str(), 0);
    if (c == kOtherViewRegistered) RegSetValueW(otherView, kServerKey.c_str(), REG_SZ, L"C:\\x86\\ifzvk-thumbnail.dll", 0);
    Tree expected = TreeOf(classes);

    ASSERT_EQ(qoru::RegisterHandler(classes, L"C:\\x\\ifzvk-thumbnail.dll"), S_OK);
    EXPECT_EQ(Text(classes, kServerKey), L"C:\\x\\ifzvk-thumbnail.dll");
    EXPECT_EQ(Text(classes, kServerKey, L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(Text(classes, kAssociation), qoru::kThumbnailHandlerClassText);
    if (c == kTakenOver) RegSetValueW(classes, kAssociation.c_str(), REG_SZ, other.c_str(), 0);
    if (c != kOthersKept) expected[kAssociation] = Text(classes, kAssociation);

    ASSERT_EQ(qoru::UnregisterHandler(classes, otherView), S_OK);
    EXPECT_TRUE(TreeOf(classes) == expected);
    RegCloseKey(classes);
    RegCloseKey(otherView);
  }
  for (const wchar_t* key : {scratch, otherViewScratch}) RegDeleteTreeW(HKEY_CURRENT_USER, key);
}

// Run by regsvr32.cmake after `regsvr32 ifzvk-thumbnail.dll` and after
// `regsvr32 /u`, with ZVK_AFTER_REGSVR32 saying which; skipped otherwise.
bool After(const char* stage) {
  const char* now = std::getenv("ZVK_AFTER_REGSVR32");
  return now != nullptr && std::string(now) == stage;
}

bool HasKey(HKEY hive, const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(hive, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

TEST(AfterRegsvr32, TheRegisteredClassMakesThumbnailsThroughCom) {
  if (!After("registered")) GTEST_SKIP() << "run by the regsvr32 test";
  const HKEY hive = HasKey(HKEY_LOCAL_MACHINE, kClassKey) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::wstring classes = L"Software\\Classes\\";
  EXPECT_EQ(lstrcmpiW(Text(hive, classes + kServerKey).c_str(), HandlerPath().c_str()), 0);
  EXPECT_EQ(Text(hive, classes + kServerKey, L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(Text(hive, classes + kAssociation), qoru::kThumbnailHandlerClassText);

  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ExpectSampleThumbnails([](REFIID riid, void** object) {
    return CoCreateInstance(qoru::kThumbnailHandlerClass, nullptr, CLSCTX_INPROC_SERVER, riid, object);
  });
  CoUninitialize();
}

TEST(AfterRegsvr32, RemovingLeavesNoKeyBehind) {
  if (!After("removed")) GTEST_SKIP() << "run by the regsvr32 test";
  for (const HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    EXPECT_FALSE(HasKey(hive, kClassKey));
    EXPECT_FALSE(HasKey(hive, L".zvk"));
  }
}

}  // namespace
