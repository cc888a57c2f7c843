// Names and kinds of paths as the tools need them.
#pragma once

#include <string>

namespace ifzvk::host {

// ASCII letters in lower case; other bytes as they are.
std::string Lower(std::string text);

// True when the name ends in extension (".png"), letter case aside, with
// something before it.
bool HasExtension(const std::string& name, const char* extension);

// What the name leads to (links followed): an existing folder; anything else
// that exists.
bool IsDirectory(const std::string& path);
bool IsFile(const std::string& path);

// path made absolute against the current directory (empty when the current
// directory cannot be told). An absolute path is returned as it is.
std::string AbsolutePath(const std::string& path);

}  // namespace ifzvk::host
