// Confined writes on Windows: every folder on the way is opened without
// following a reparse point (junction or symbolic link), refused when it is
// one, and kept open without delete sharing until the file is in place, so
// it cannot be renamed or replaced by a link meanwhile.
#include <windows.h>

#include <string_view>

#include "platform/confined_file.h"

namespace plat {
namespace {

bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos;
}

// A handle on the real folder at path (not a reparse point), or nullptr.
HANDLE PinFolder(const std::string& path) {
  const HANDLE folder = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
  if (folder == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool real = ::GetFileInformationByHandle(folder, &information) != FALSE &&
                    (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                    (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  if (!real) {
    ::CloseHandle(folder);
    return nullptr;
  }
  return folder;
}

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (::WriteFile(file, bytes, chunk, &written, nullptr) == FALSE || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

HANDLE CreateTemporary(const std::string& path) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS && ::DeleteFileA(path.c_str())) {
    file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  }
  return file;
}

bool WriteInFolder(const std::string& folder, const std::string& name, const void* data, std::size_t size) {
  const std::string target = folder + "\\" + name;
  const std::string temporary = target + kPartSuffix;
  const HANDLE file = CreateTemporary(temporary);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = WriteAll(file, data, size);
  const bool closed = ::CloseHandle(file) != FALSE;
  if (written && closed && ::MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  ::DeleteFileA(temporary.c_str());
  return false;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

int RemovePartsIn(const std::string& folder, int depth) {
  WIN32_FIND_DATAA entry{};
  const HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == ".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
    const std::string path = folder + "\\" + name;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (depth > 0) removed += RemovePartsIn(path, depth - 1);
    } else if (EndsWith(name, kPartSuffix) && ::DeleteFileA(path.c_str())) {
      ++removed;
    }
  } while (::FindNextFileA(search, &entry));
  ::FindClose(search);
  return removed;
}

}  // namespace

int WriteFileBelow(const char* folder, const std::vector<std::string>& names, const void* data, std::size_t size) {
  if (folder == nullptr || names.empty()) return 0;
  for (const std::string& name : names) {
    if (!PlainName(name)) return 0;
  }
  std::vector<HANDLE> pinned;
  std::string at = folder;
  bool reached = true;
  for (std::size_t i = 0; reached && i + 1 < names.size(); ++i) {
    at += "\\" + names[i];
    if (!::CreateDirectoryA(at.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) reached = false;
    const HANDLE folderHandle = reached ? PinFolder(at) : nullptr;
    if (folderHandle == nullptr) reached = false;
    else pinned.push_back(folderHandle);
  }
  const bool written = reached && WriteInFolder(at, names.back(), data, size);
  for (HANDLE handle : pinned) ::CloseHandle(handle);
  return written ? 1 : 0;
}

int RemoveLeftoverParts(const char* folder) {
  constexpr int kDeepest = 64;
  return folder != nullptr ? RemovePartsIn(folder, kDeepest) : 0;
}

}  // namespace plat

namespace plat {

// Not converted yet: the ANSI file functions would read the bytes in the
// host's own code page, which need not be 932; such names become '_'.
bool FileNameFromCodePage932(const std::string& name, std::string* fileName) {
  *fileName = name;
  return false;
}

}  // namespace plat
