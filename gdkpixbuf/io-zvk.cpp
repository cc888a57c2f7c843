// The gdk-pixbuf loader for zorvik documents: shows a document's stored
// preview. Only fill_vtable and fill_info leave the module.
//
// The preview is found through the XML description and the records that
// follow it, so a document is decoded once all of it is there: incremental
// loading keeps the bytes as they come and decodes when the host stops.
// Every load has its own state and touches no file, so gdk-pixbuf may run
// any number of loads on any threads at once.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <cstdio>
#include <new>

#include "gdkpixbuf/ArrivingDocument.h"

namespace {

using qoru::CArrivingDocument;

struct IncrementalLoad {
  GdkPixbufModuleSizeFunc sizeFunc;
  GdkPixbufModulePreparedFunc preparedFunc;
  GdkPixbufModuleUpdatedFunc updatedFunc;
  gpointer userData;
  CArrivingDocument document;
  GError* failure = nullptr;  // why a piece was refused; told again when the host stops
};

GdkPixbuf* LoadFromFile(FILE* file, GError** error) {
  CArrivingDocument document;
  unsigned char chunk[16 * 1024];  // on the viewer thread's stack, beside the XML parse
  for (;;) {
    const std::size_t count = std::fread(chunk, 1, sizeof chunk, file);
    if (count > 0 && !document.Append(chunk, count, error)) return nullptr;
    if (count < sizeof chunk) break;
  }
  if (std::ferror(file)) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "The zorvik document could not be read");
    return nullptr;
  }
  return qoru::DecodeDocumentPixbuf(document.Data(), document.Size(), error);
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError** error) {
  auto* load = new (std::nothrow) IncrementalLoad{sizeFunc, preparedFunc, updatedFunc, userData, {}};
  if (load == nullptr) qoru::SetOutOfMemory(error);
  return load;
}

gboolean LoadIncrement(gpointer context, const guchar* bytes, guint count, GError** error) {
  auto* load = static_cast<IncrementalLoad*>(context);
  if (load->failure == nullptr && !load->document.Append(bytes, count, &load->failure)) {
    g_propagate_error(error, g_error_copy(load->failure));
  }
  return load->failure == nullptr;
}

// Hands the decoded preview to the host: its size first (a host that only
// wants the size answers 0 x 0 and gets no picture), then the whole picture.
gboolean DeliverPreview(IncrementalLoad& load, GdkPixbuf* pixbuf) {
  const int width = gdk_pixbuf_get_width(pixbuf);
  const int height = gdk_pixbuf_get_height(pixbuf);
  if (load.sizeFunc != nullptr) {
    int wantedWidth = width;
    int wantedHeight = height;
    load.sizeFunc(&wantedWidth, &wantedHeight, load.userData);
    if (wantedWidth == 0 || wantedHeight == 0) return TRUE;
  }
  // The host scales to any other size it asked for itself.
  if (load.preparedFunc != nullptr) load.preparedFunc(pixbuf, nullptr, load.userData);
  if (load.updatedFunc != nullptr) load.updatedFunc(pixbuf, 0, 0, width, height, load.userData);
  return TRUE;
}

gboolean StopLoad(gpointer context, GError** error) {
  auto* load = static_cast<IncrementalLoad*>(context);
  gboolean delivered = FALSE;
  if (load->failure != nullptr) {
    g_propagate_error(error, load->failure);
  } else if (GdkPixbuf* pixbuf = qoru::DecodeDocumentPixbuf(load->document.Data(), load->document.Size(), error)) {
    delivered = DeliverPreview(*load, pixbuf);
    g_object_unref(pixbuf);
  }
  delete load;
  return delivered;
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->load = LoadFromFile;
  module->begin_load = BeginLoad;
  module->stop_load = StopLoad;
  module->load_increment = LoadIncrement;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  // gdk-pixbuf only reads these; they are not const in its structures.
  static GdkPixbufModulePattern signature[] = {{const_cast<char*>("zorvixa"), nullptr, 100}, {nullptr, nullptr, 0}};
  static const gchar* mimeTypes[] = {"application/x-zorvik", nullptr};
  static const gchar* extensions[] = {"zvk", nullptr};
  info->name = const_cast<gchar*>("zvk");
  info->signature = signature;
  info->description = const_cast<gchar*>("zorvik document preview");
  info->mime_types = const_cast<gchar**>(mimeTypes);
  info->extensions = const_cast<gchar**>(extensions);
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = const_cast<gchar*>("");
}

}  // extern "C"
