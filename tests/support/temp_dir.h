// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <string>

namespace vesk::testing {

class TempDir {
 public:
#if defined(_WIN32)
  static constexpr const char* kSeparator = "\\";
#else
  static constexpr const char* kSeparator = "/";
#endif

  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + kSeparator + name; }
  // Writes bytes to a file in the directory and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

// The whole content of a file ("" when it cannot be read).
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace vesk::testing
