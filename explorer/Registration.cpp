#include "explorer/Registration.h"

#include <cwchar>
#include <string>

namespace qoru {
namespace {

constexpr const wchar_t* kThumbnailHandlerKey = L".zvk\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

std::wstring ClassKey() { return std::wstring(L"CLSID\\") + kThumbnailHandlerClassText; }
std::wstring ServerKey() { return ClassKey() + L"\\InprocServer32"; }

// Sets one text value (null name: the key's default value), creating the key.
LSTATUS SetText(HKEY root, const std::wstring& key, const wchar_t* name, const wchar_t* text) {
  HKEY opened = nullptr;
  LSTATUS status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
  if (status != ERROR_SUCCESS) return status;
  const auto bytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
  status = RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
  RegCloseKey(opened);
  return status;
}

bool DefaultTextIs(HKEY root, const wchar_t* key, const wchar_t* expected) {
  wchar_t text[64] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  return RegGetValueW(root, key, nullptr, RRF_RT_REG_SZ, nullptr, text, &bytes) == ERROR_SUCCESS &&
         _wcsicmp(text, expected) == 0;
}

// Deletes the key when it holds no value and no subkey.
void DeleteIfEmpty(HKEY root, const wchar_t* key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return;
  DWORD subkeys = 0, values = 0;
  const bool empty = RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                      nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                     subkeys == 0 && values == 0;
  RegCloseKey(opened);
  if (empty) RegDeleteKeyW(root, key);
}

bool ServerRegistered(HKEY classes) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(classes, ServerKey().c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
    return false;
  RegCloseKey(opened);
  return true;
}

bool RunsElevated() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                        elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

}  // namespace

HRESULT RegisterHandler(HKEY classes, const wchar_t* modulePath) noexcept {
  try {
    LSTATUS status = SetText(classes, ClassKey(), nullptr, L"zorvik thumbnail handler");
    if (status == ERROR_SUCCESS) status = SetText(classes, ServerKey(), nullptr, modulePath);
    if (status == ERROR_SUCCESS) status = SetText(classes, ServerKey(), L"ThreadingModel", L"Apartment");
    if (status == ERROR_SUCCESS) status = SetText(classes, kThumbnailHandlerKey, nullptr, kThumbnailHandlerClassText);
    if (status == ERROR_SUCCESS) return S_OK;
    UnregisterHandler(classes, nullptr);  // nothing half-written stays behind
    return HRESULT_FROM_WIN32(status);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterHandler(HKEY classes, HKEY otherView) noexcept {
  try {
    const LSTATUS removed = RegDeleteTreeW(classes, ClassKey().c_str());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(removed);
    DeleteIfEmpty(classes, L"CLSID");  // a user's classes may have had none before
    if (otherView != nullptr && ServerRegistered(otherView)) return S_OK;
    if (DefaultTextIs(classes, kThumbnailHandlerKey, kThumbnailHandlerClassText)) {
      const LSTATUS status = RegDeleteKeyW(classes, kThumbnailHandlerKey);
      if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    }
    DeleteIfEmpty(classes, L".zvk\\ShellEx");
    DeleteIfEmpty(classes, L".zvk");
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT OpenCallersClasses(bool otherView, HKEY& classes) noexcept {
  const HKEY hive = RunsElevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  if (otherView) {  // only read; keys opened through a handle of one view stay in that view
    const REGSAM view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    return HRESULT_FROM_WIN32(RegOpenKeyExW(hive, L"Software\\Classes", 0, KEY_READ | view, &classes));
  }
  const LSTATUS status = RegCreateKeyExW(hive, L"Software\\Classes", 0, nullptr, 0, KEY_READ | KEY_WRITE | DELETE,
                                         nullptr, &classes, nullptr);
  return HRESULT_FROM_WIN32(status);
}

}  // namespace qoru
