// The gdk-pixbuf loader as viewers use it: gdk-pixbuf finds it through a
// loader cache, written here, that names the build tree's module (the
// system's cache is never read or touched).
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ViewerCases.h"

namespace {

using ifzvk::test::Bytes;
using Expected = ifzvk::test::PictureDocument;

const std::string kSample = std::string(ZVK_SOURCE_DIR) + "/examples/sample.zvk";

// The module, opened directly: its vtable, for the FILE* route and for what
// no host would send.
struct LoaderModule {
  void* handle = dlopen(ZVK_LOADER_FILE, RTLD_NOW | RTLD_LOCAL);
  GdkPixbufModule vtable{};
  LoaderModule() {
    if (handle != nullptr) reinterpret_cast<GdkPixbufModuleFillVtableFunc>(dlsym(handle, "fill_vtable"))(&vtable);
  }
  ~LoaderModule() {
    if (handle != nullptr) dlclose(handle);
  }
};

// What a desktop gives gdk-pixbuf, in a private temporary folder: a loader
// cache naming the build tree's module (as gdk-pixbuf-query-loaders writes it
// from fill_info: the install test checks that), and a MIME database that
// knows the document type (gdk-pixbuf recognises a file's type through
// GIO's content sniffing). Both are set before gdk-pixbuf or GIO read anything.
class DesktopEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    gchar* folder = g_dir_make_tmp("zvk-pixbuf-XXXXXX", nullptr);
    ASSERT_NE(folder, nullptr);
    folder_ = folder;
    g_free(folder);
    std::ofstream(folder_ / "loaders.cache") << "\"" ZVK_LOADER_FILE "\"\n"
                                             << "\"zvk\" 4 \"gdk-pixbuf\" \"zorvik document preview\" \"\"\n"
                                             << "\"application/x-zorvik\" \"\"\n\"zvk\" \"\"\n\"zorvixa\" \"\" 100\n\n";
    g_setenv("GDK_PIXBUF_MODULE_FILE", (folder_ / "loaders.cache").c_str(), TRUE);

    std::filesystem::create_directories(folder_ / "mime/packages");
    std::filesystem::copy_file(ZVK_MIME_PACKAGE, folder_ / "mime/packages/ifzvk.xml");
    const char* dataDirs = g_getenv("XDG_DATA_DIRS");
    g_setenv("XDG_DATA_DIRS", (folder_.string() + ":" + (dataDirs != nullptr ? dataDirs : "/usr/share")).c_str(), TRUE);
    const std::string mime = (folder_ / "mime").string();
    const gchar* argv[] = {ZVK_UPDATE_MIME_DATABASE, mime.c_str(), nullptr};
    gint status = 1;
    ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr,
                             nullptr, &status, nullptr) &&
                status == 0);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::filesystem::path folder_;
};

const testing::Environment* const kDesktop = testing::AddGlobalTestEnvironment(new DesktopEnvironment);

// Empty when pixbuf is an 8-bit RGB picture without alpha showing exactly
// the expected pixels (bits 24-31 ignored), else what differs.
std::string Differences(GdkPixbuf* pixbuf, const Expected& expected) {
  if (pixbuf == nullptr) return "no pixbuf";
  if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB || gdk_pixbuf_get_n_channels(pixbuf) != 3 ||
      gdk_pixbuf_get_has_alpha(pixbuf) || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8)
    return "not 8-bit RGB without alpha";
  const int width = gdk_pixbuf_get_width(pixbuf);
  const int height = gdk_pixbuf_get_height(pixbuf);
  if (width != expected.width || height != expected.height)
    return "size " + std::to_string(width) + " x " + std::to_string(height);
  const guchar* rows = gdk_pixbuf_read_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  int mismatches = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const guchar* rgb = rows + y * stride + 3 * x;
      const std::uint32_t pixel = expected.pixels[static_cast<std::size_t>(y) * width + x];
      mismatches += rgb[0] != ((pixel >> 16) & 0xFF) || rgb[1] != ((pixel >> 8) & 0xFF) || rgb[2] != (pixel & 0xFF);
    }
  }
  return mismatches == 0 ? "" : std::to_string(mismatches) + " pixels differ";
}

// Feeds the bytes to a GdkPixbufLoader in pieces of the given sizes (the
// rest in one last piece); "zvk" picks the loader at once, "" lets
// gdk-pixbuf recognise the document by its first bytes.
GdkPixbuf* LoadInPieces(const Bytes& bytes, const std::vector<std::size_t>& pieces, const char* type,
                        GError** error) {
  GdkPixbufLoader* loader = *type != '\0' ? gdk_pixbuf_loader_new_with_type(type, error) : gdk_pixbuf_loader_new();
  if (loader == nullptr) return nullptr;
  std::size_t at = 0;
  bool written = true;
  for (std::size_t i = 0; written && at < bytes.size(); ++i) {
    const std::size_t piece = i < pieces.size() ? std::min(pieces[i], bytes.size() - at) : bytes.size() - at;
    written = gdk_pixbuf_loader_write(loader, bytes.data() + at, piece, error);
    at += piece;
  }
  GdkPixbuf* pixbuf = nullptr;
  if (written && gdk_pixbuf_loader_close(loader, error)) pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  if (pixbuf != nullptr) g_object_ref(pixbuf);
  g_object_unref(loader);
  return pixbuf;
}

TEST(PixbufLoader, SampleIsTheStoredPreviewFromAFileAndInPieces) {
  const Expected preview = ifzvk::test::PictureDocuments(kSample)[0];
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(kSample.c_str(), &error);
  EXPECT_EQ(Differences(pixbuf, preview), "") << (error != nullptr ? error->message : "");
  g_clear_object(&pixbuf);
  g_clear_error(&error);
  const struct {
    const char* title;
    std::vector<std::size_t> pieces;
    const char* type;
  } cases[] = {
      {"1, 7, 4096 and the rest, loader named", {1, 7, 4096}, "zvk"},
      {"byte by byte through the magic, recognised", {1, 1, 1, 1, 1, 1, 1, 1, 3, 5000}, ""},
      {"all at once, recognised", {}, ""},
  };
  for (const auto& c : cases) {
    pixbuf = LoadInPieces(preview.bytes, c.pieces, c.type, &error);
    EXPECT_EQ(Differences(pixbuf, preview), "") << c.title << ": " << (error != nullptr ? error->message : "");
    g_clear_object(&pixbuf);
    g_clear_error(&error);
  }
  // What file managers ask first, the type and the size: the loader hands
  // over no picture when told the size is all that is wanted.
  int width = 0, height = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(kSample.c_str(), &width, &height);
  ASSERT_NE(format, nullptr);
  g_autofree gchar* name = gdk_pixbuf_format_get_name(format);
  EXPECT_STREQ(name, "zvk");
  EXPECT_TRUE(width == 256 && height == 256) << width << " x " << height;
  // Another size asked for: gdk-pixbuf scales what the loader gives.
  pixbuf = gdk_pixbuf_new_from_file_at_size(kSample.c_str(), 128, 128, nullptr);
  ASSERT_NE(pixbuf, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), 128);
  g_object_unref(pixbuf);
}

TEST(PixbufLoader, BrokenAndHostileDocumentsGiveAnErrorAndNoPixbuf) {
  LoaderModule module;
  ASSERT_NE(module.handle, nullptr);
  for (const auto& c : ifzvk::test::BrokenDocuments()) {
    const GdkPixbufError code = c.reason ? GDK_PIXBUF_ERROR_CORRUPT_IMAGE : GDK_PIXBUF_ERROR_UNKNOWN_TYPE;
    const std::string message = c.reason ? std::string("The zorvik document has no usable preview (") + c.reason + ")"
                                         : "Not a zorvik document";
    // As a viewer streams a file in uneven pieces, and as
    // gdk_pixbuf_new_from_file hands over a whole file (here from memory).
    GError *streamed = nullptr, *whole = nullptr;
    GdkPixbuf* fromPieces = LoadInPieces(c.bytes, {1, 7, 4096}, "zvk", &streamed);
    FILE* file = c.bytes.empty() ? std::tmpfile() : fmemopen(const_cast<guchar*>(c.bytes.data()), c.bytes.size(), "rb");
    ASSERT_NE(file, nullptr);
    GdkPixbuf* fromFile = module.vtable.load(file, &whole);
    std::fclose(file);
    for (GError* error : {streamed, whole}) {
      ASSERT_NE(error, nullptr) << c.title;
      EXPECT_TRUE(error->domain == GDK_PIXBUF_ERROR && error->code == code) << c.title << ": " << error->code;
      EXPECT_EQ(error->message, message) << c.title;
      g_error_free(error);
    }
    EXPECT_TRUE(fromPieces == nullptr && fromFile == nullptr) << c.title;
  }
}

// The loader keeps no more than the module's 32-bit document limit, and
// refuses a piece that would pass it before reading a byte of it.
TEST(PixbufLoader, RefusesADocumentPastFourGibibytes) {
  LoaderModule module;
  ASSERT_NE(module.handle, nullptr);
  GError* error = nullptr;
  gpointer load = module.vtable.begin_load(nullptr, nullptr, nullptr, nullptr, &error);
  ASSERT_NE(load, nullptr);
  const guchar start[] = "zorvixa";
  ASSERT_TRUE(module.vtable.load_increment(load, start, 7, &error));
  EXPECT_FALSE(module.vtable.load_increment(load, start, G_MAXUINT, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY);
  g_clear_error(&error);
  EXPECT_FALSE(module.vtable.stop_load(load, &error));
  g_clear_error(&error);
}

TEST(PixbufLoader, FourThreadsLoadingAtOnceEachGetTheirOwnPicture) {
  const std::vector<Expected> documents = ifzvk::test::PictureDocuments(kSample);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong, &documents, t] {
      for (std::size_t i = 0; i < 40; ++i) {
        const Expected& expected = documents[(t + 4 * i) % documents.size()];
        GdkPixbuf* pixbuf = LoadInPieces(expected.bytes, {1 + i * 13}, i % 2 ? "zvk" : "", nullptr);
        wrong += !Differences(pixbuf, expected).empty();
        g_clear_object(&pixbuf);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
