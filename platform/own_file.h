// The module's temporary file: one fixed name in the current directory, and
// yet only ever a file of the module's own. It is created anew, never opened
// through a link and never over what is already there, so the document's
// bytes land in no other file and nothing can make the request wait on a
// special file. It is deleted while it is still that very file, so a name
// that meanwhile leads elsewhere is left alone.
#pragma once

#include <cstdio>

namespace ifzvk::sys {

// Creates `name` as a new, empty regular file and opens it for writing and
// reading back, in binary ("w+b"). When the name is taken by a regular file
// that a request left behind (no other name, the process may write it; on
// POSIX systems also owned by the process's user, with its owner's write
// permission), that very file is removed and the name created once more.
// Anything else there (a link, a folder, a special file, a read-only or
// foreign file) is left as it is and the answer is null.
std::FILE* CreateOwnFile(const char* name);

// Deletes the file `stream` holds, provided `name` still leads to it, then
// closes the stream. Nothing happens for a null stream.
void DeleteOwnFile(const char* name, std::FILE* stream);

}  // namespace ifzvk::sys
