// zvk-bench-explorer: what one Explorer thumbnail of a document costs through
// the thumbnail handler, next to the Susie module's picture request on the
// same bytes, in one run (Windows; scripts/bench.sh runs it under Wine).
//
//   zvk-bench-explorer [--quick] [--rounds N]
//
// The document is examples/sample.zvk (a 256 x 256 preview). A thumbnail
// call is what Explorer does for one icon: the class object, an instance,
// Initialize with a stream on the file's bytes, GetThumbnail(256), the bitmap
// deleted and everything released. A module call is GetPicture in
// memory mode with both blocks freed, as in zvk-bench-loop. Both DLLs are
// loaded from beside the program once. The two calls take turns, the order
// turned round every other round, and each one's median round is printed
// with their ratio.
#include <windows.h>
#include <shlwapi.h>
#include <thumbcache.h>
#include <propsys.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/BenchCases.h"
#include "explorer/Handler.h"

namespace {

using namespace ifzvk::bench;
using Clock = std::chrono::steady_clock;
using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

constexpr UINT kThumbnailSide = 256;

template <typename T>
void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

bool IsThumbnail(HBITMAP bitmap, const Document& document) {
  BITMAP shape{};
  return GetObject(bitmap, sizeof shape, &shape) == sizeof shape && shape.bmWidth == document.shape.side &&
         shape.bmHeight == document.shape.side;
}

bool ThumbnailCall(GetClassObject getClassObject, const Document& document) {
  IClassFactory* factory = nullptr;
  IInitializeWithStream* initialize = nullptr;
  IThumbnailProvider* provider = nullptr;
  IStream* stream = nullptr;
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  const bool ok =
      SUCCEEDED(getClassObject(qoru::kThumbnailHandlerClass, IID_PPV_ARGS(&factory))) &&
      SUCCEEDED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&initialize))) &&
      (stream = SHCreateMemStream(document.bytes.data(), static_cast<UINT>(document.bytes.size()))) != nullptr &&
      SUCCEEDED(initialize->Initialize(stream, STGM_READ)) && SUCCEEDED(initialize->QueryInterface(IID_PPV_ARGS(&provider))) &&
      SUCCEEDED(provider->GetThumbnail(kThumbnailSide, &bitmap, &alpha)) && IsThumbnail(bitmap, document);
  if (bitmap != nullptr) DeleteObject(bitmap);
  Release(provider);
  Release(stream);
  Release(initialize);
  Release(factory);
  return ok;
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

template <typename Call>
double Seconds(const Call& call, bool& ok) {
  const Clock::time_point start = Clock::now();
  ok = call() && ok;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int Run(const std::string& path, int rounds) {
  Document document;
  std::ifstream in(path, std::ios::binary);
  document.bytes.assign(std::istreambuf_iterator<char>(in), {});
  if (document.bytes.empty()) {
    std::fprintf(stderr, "zvk-bench-explorer: cannot read %s\n", path.c_str());
    return 1;
  }
  // The sample's preview is 256 x 256: the module gives it whole, and a
  // thumbnail of at most 256 pixels keeps its size.
  document.shape.side = 256;

  ifzvk::host::PrivateWorkDir folder;  // for the module's temporary file
  ifzvk::host::PluginModule module;
  std::string error;
  if (!folder.Enter() || !LoadModule(module, "", error)) {
    std::fprintf(stderr, "zvk-bench-explorer: %s\n", folder.IsEntered() ? error.c_str() : folder.Error().c_str());
    return 1;
  }
  const std::string handlerPath = ifzvk::host::ExecutableDirectory() + "ifzvk-thumbnail.dll";
  const HMODULE handler = LoadLibraryA(handlerPath.c_str());
  const auto getClassObject = handler == nullptr ? nullptr
                                                 : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                                       GetProcAddress(handler, "DllGetClassObject")));
  if (getClassObject == nullptr) {
    std::fprintf(stderr, "zvk-bench-explorer: cannot load %s or find its DllGetClassObject\n", handlerPath.c_str());
    return 1;
  }

  const auto thumbnailCall = [&] { return ThumbnailCall(getClassObject, document); };
  const auto pictureCall = [&] { return ModuleCall(module, document, Mode::Memory); };
  bool ok = thumbnailCall() && pictureCall();  // also warms up
  std::vector<double> thumbnail, picture;
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) {
      thumbnail.push_back(Seconds(thumbnailCall, ok));
      picture.push_back(Seconds(pictureCall, ok));
    } else {
      picture.push_back(Seconds(pictureCall, ok));
      thumbnail.push_back(Seconds(thumbnailCall, ok));
    }
  }
  FreeLibrary(handler);
  if (!ok) {
    std::fprintf(stderr, "zvk-bench-explorer: a call gave no picture of the document's preview\n");
    return 1;
  }
  const double thumbnailMs = Median(thumbnail) * 1e3, pictureMs = Median(picture) * 1e3;
  std::printf("%s (%zu bytes), median of %d interleaved rounds:\n\n", path.c_str(), document.bytes.size(), rounds);
  std::printf("| call | ms |\n|---|---:|\n");
  std::printf("| Explorer thumbnail, %u pixels (ifzvk-thumbnail.dll) | %.3f |\n", kThumbnailSide, thumbnailMs);
  std::printf("| GetPicture, memory mode (Susie module) | %.3f |\n", pictureMs);
  std::printf("\nthumbnail / GetPicture: %.2f\n", thumbnailMs / pictureMs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 301;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      rounds = 31;
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: zvk-bench-explorer [--quick] [--rounds N]\n");
      return 1;
    }
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // as on Explorer's thumbnail threads
  const int status = Run(ZVK_SAMPLE_DOCUMENT, rounds);
  CoUninitialize();
  return status;
}
