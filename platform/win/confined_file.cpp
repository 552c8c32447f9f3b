// Confined writes on Windows: every folder on the way is opened without
// following a reparse point (junction or symbolic link), refused when it is
// one, and kept open without delete sharing until the file is in place, so
// it cannot be renamed or replaced by a link meanwhile. Paths arrive in
// UTF-8 and go to the wide file functions, so names in any script survive
// whatever the host's own code page is.
#include <windows.h>

#include <string_view>

#include "platform/confined_file.h"

namespace plat {
namespace {

// UTF-8 (or, with codePage 932, Shift JIS) as UTF-16; empty when the bytes
// are no text in that code page.
std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
  if (text.empty()) return std::wstring();
  const int units =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(),
                        units);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                          nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes, nullptr,
                        nullptr);
  return text;
}

bool PlainName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:") == std::wstring::npos;
}

// A handle on the real folder at path (not a reparse point), or nullptr.
HANDLE PinFolder(const std::wstring& path) {
  const HANDLE folder = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

HANDLE CreateTemporary(const std::wstring& path) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS && ::DeleteFileW(path.c_str())) {
    file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  }
  return file;
}

bool WriteInFolder(const std::wstring& folder, const std::wstring& name, const void* data, std::size_t size) {
  const std::wstring target = folder + L"\\" + name;
  const std::wstring temporary = target + Wide(kPartSuffix);
  const HANDLE file = CreateTemporary(temporary);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = WriteAll(file, data, size);
  const bool closed = ::CloseHandle(file) != FALSE;
  if (written && closed && ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  ::DeleteFileW(temporary.c_str());
  return false;
}

bool EndsWith(std::wstring_view text, std::wstring_view end) {
  return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

int RemovePartsIn(const std::wstring& folder, const std::wstring& suffix, int depth) {
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
    const std::wstring path = folder + L"\\" + name;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (depth > 0) removed += RemovePartsIn(path, suffix, depth - 1);
    } else if (EndsWith(name, suffix) && ::DeleteFileW(path.c_str())) {
      ++removed;
    }
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  return removed;
}

}  // namespace

int WriteFileBelow(const char* folder, const std::vector<std::string>& names, const void* data, std::size_t size) {
  if (folder == nullptr || *folder == '\0' || names.empty()) return 0;
  std::vector<std::wstring> wideNames;
  for (const std::string& name : names) {
    wideNames.push_back(Wide(name));
    if (!PlainName(wideNames.back())) return 0;
  }
  std::wstring at = Wide(folder);
  if (at.empty()) return 0;
  std::vector<HANDLE> pinned;
  bool reached = true;
  for (std::size_t i = 0; reached && i + 1 < wideNames.size(); ++i) {
    at += L"\\" + wideNames[i];
    if (!::CreateDirectoryW(at.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) reached = false;
    const HANDLE folderHandle = reached ? PinFolder(at) : nullptr;
    if (folderHandle == nullptr) reached = false;
    else pinned.push_back(folderHandle);
  }
  const bool written = reached && WriteInFolder(at, wideNames.back(), data, size);
  for (HANDLE handle : pinned) ::CloseHandle(handle);
  return written ? 1 : 0;
}

int RemoveLeftoverParts(const char* folder) {
  constexpr int kDeepest = 64;
  const std::wstring wide = folder != nullptr ? Wide(folder) : std::wstring();
  return wide.empty() ? 0 : RemovePartsIn(wide, Wide(kPartSuffix), kDeepest);
}

bool FileNameFromCodePage932(const std::string& name, std::string* fileName) {
  if (name.empty()) {
    fileName->clear();
    return true;
  }
  const std::wstring wide = Wide(name, 932);
  if (wide.empty()) return false;
  *fileName = Utf8(wide);
  return !fileName->empty();
}

}  // namespace plat
