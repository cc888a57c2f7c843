// The five calls of the plug-in interface. The module exports them under their
// plain names (plugin/exports.cpp); the tests call them here directly.
#pragma once

#include <cstddef>

#include "document/Container.h"
#include "plugin/susie.h"

namespace ifzvk {

int GetPluginInfo(int infono, LPSTR buf, int buflen);
int IsSupported(LPCSTR filename, SusieHandleOrAddress dw);
int GetPictureInfo(LPCSTR buf, SusieLen len, SusieFlag flag, PictureInfo* lpInfo);
int GetPicture(LPCSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               ProgressCallback lpPrgressCallback, SusieData lData);
int GetPreview(LPCSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               ProgressCallback lpPrgressCallback, SusieData lData);

ResultCode FillPictureInfo(PictureInfo* info);

}  // namespace ifzvk
