#include "platform/regular_file.h"

#include <windows.h>

namespace plat {

FileRead ReadRegularFile(const char* path, std::size_t most, std::string* bytes) {
  bytes->clear();
  // A folder does not open without backup semantics; a pipe or a device
  // opens, and is told apart by its type.
  const HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? FileRead::kNotRegular
               : FileRead::kCannotRead;
  }
  FileRead result = FileRead::kRead;
  DWORD high = 0;
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    result = FileRead::kNotRegular;
  } else {
    const DWORD low = ::GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) {
      result = FileRead::kCannotRead;
    } else if (high != 0 || low > most) {
      result = FileRead::kTooLarge;
    }
  }
  std::size_t filled = 0;
  if (result == FileRead::kRead) bytes->resize(most + 1);
  while (result == FileRead::kRead && filled < bytes->size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(bytes->size() - filled);
    if (!::ReadFile(file, bytes->data() + filled, want, &got, nullptr)) result = FileRead::kCannotRead;
    if (got == 0) break;
    filled += got;
  }
  ::CloseHandle(file);
  if (result == FileRead::kRead && filled > most) result = FileRead::kTooLarge;
  bytes->resize(result == FileRead::kRead ? filled : 0);
  return result;
}

}  // namespace plat
