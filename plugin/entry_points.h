// The five calls of the plug-in interface. The module exports them under their
// plain names (plugin/exports.cpp); the tests call them here directly.
#pragma once

#include <cstddef>

#include "plugin/susie.h"

namespace ifzvk {

constexpr std::size_t kHeaderBytes = 20;  // the document header: magic, reserved, two sizes

int GetPluginInfo(int infono, LPSTR buf, int buflen);
int IsSupported(LPCSTR filename, SusieHandleOrAddress dw);
int GetPictureInfo(LPCSTR buf, SusieLen len, SusieFlag flag, PictureInfo* lpInfo);
int GetPicture(LPCSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               ProgressCallback lpPrgressCallback, SusieData lData);
int GetPreview(LPCSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               ProgressCallback lpPrgressCallback, SusieData lData);

// The first seven bytes are "zorvixa", compared exactly; bytes must hold at least 7.
bool HasDocumentMagic(const unsigned char* bytes);
int FillPictureInfo(PictureInfo* info);

}  // namespace ifzvk
