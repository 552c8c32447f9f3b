// Files written below a folder that others may change meanwhile: every
// component of the way is opened from the one before it, and no link is
// followed, so however the folders are swapped during a write nothing lands
// outside the folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace plat {

// Temporaries of a write end in this; one left by an interrupted write is
// removed by RemoveLeftoverParts.
inline constexpr char kPartSuffix[] = ".vesk-part";

// Writes data to folder/names[0]/.../names[n-1], creating the folders in
// between. The folder and the names are UTF-8 (on POSIX: bytes as the file
// system takes them). The folder itself must exist. Each name must be a plain file
// name (no separator, not "." or ".."); a link or a file where a folder
// belongs refuses the write. The file appears whole or not at all: written
// as "<name>.vesk-part" and renamed over the name (a link there is replaced,
// not written through). Returns 1 on success, 0 on failure.
int WriteFileBelow(const char* folder, const std::vector<std::string>& names, const void* data, std::size_t size);

// A name from the control PC (code page 932) in UTF-8, as WriteFileBelow
// takes it. False when the bytes are no code-page-932 text.
bool FileNameFromCodePage932(const std::string& name, std::string* fileName);

// Removes every "*.vesk-part" file at any depth below folder (UTF-8),
// entering no link. Returns how many were removed.
int RemoveLeftoverParts(const char* folder);

}  // namespace plat
