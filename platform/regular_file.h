// Reading a small input file whole: a settings or scenario file given on the
// command line. Only a regular file is read, so a FIFO without a writer, a
// device (/dev/zero) or a folder is refused at once instead of blocking the
// start-up, filling the memory or passing for an empty file.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

enum class FileRead { kRead, kCannotRead, kNotRegular, kTooLarge };

// The file's bytes in *bytes when it is a regular file of at most `most`
// bytes (the size is checked again while reading, in case it grows).
FileRead ReadRegularFile(const char* path, std::size_t most, std::string* bytes);

}  // namespace plat
