// Private-profile writes on POSIX. The file is read whole, changed line by
// line and written back through a temporary file that replaces it in one
// step, so a crash half-way never leaves a truncated settings file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/profile.h"

namespace plat {
namespace {

struct Line {
  std::string text;
  std::string ending;  // "\r\n", "\n", or "" for a last line without one
};

// A fuzzing build writes the settings thousands of times a second, where a
// sync per write would be all the run does and durability means nothing.
#if defined(VESK_FUZZ_BUILD)
constexpr bool kSyncWrites = false;
#else
constexpr bool kSyncWrites = true;
#endif

std::mutex writeMutex;
std::string settingsPath = "seminfo.ini";

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t newline = content.find('\n', start);
    if (newline == std::string::npos) {
      lines.push_back(Line{content.substr(start), ""});
      break;
    }
    const bool crlf = newline > start && content[newline - 1] == '\r';
    const std::size_t textEnd = crlf ? newline - 1 : newline;
    lines.push_back(Line{content.substr(start, textEnd - start), crlf ? "\r\n" : "\n"});
    start = newline + 1;
  }
  return lines;
}

std::string LineEndingOf(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (!line.ending.empty()) return line.ending;
  }
  return "\r\n";
}

// "[name]" (blanks around allowed): true and the name.
bool SectionName(const std::string& text, std::string_view* name) {
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty() || trimmed.front() != '[') return false;
  const std::size_t close = trimmed.find(']');
  if (close == std::string_view::npos) return false;
  *name = Trim(trimmed.substr(1, close - 1));
  return true;
}

// "name=value" outside a comment: true and the name.
bool KeyName(const std::string& text, std::string_view* name) {
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty() || trimmed.front() == ';') return false;
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return false;
  *name = Trim(trimmed.substr(0, equals));
  return true;
}

std::size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
  std::string_view name;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (SectionName(lines[i].text, &name) && SameName(name, section)) return i;
  }
  return lines.size();
}

std::size_t SectionEnd(const std::vector<Line>& lines, std::size_t header) {
  std::string_view name;
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    if (SectionName(lines[i].text, &name)) return i;
  }
  return lines.size();
}

// Adds a line after index `after`, giving that line an ending if it had none.
void InsertAfter(std::vector<Line>& lines, std::size_t after, Line line) {
  if (lines[after].ending.empty()) lines[after].ending = line.ending;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after + 1), std::move(line));
}

void SetKey(std::vector<Line>& lines, std::size_t header, const char* key, const char* value,
            const std::string& ending) {
  const std::size_t end = SectionEnd(lines, header);
  std::size_t lastFilled = header;
  std::string_view name;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (!Trim(lines[i].text).empty()) lastFilled = i;
    if (!KeyName(lines[i].text, &name) || !SameName(name, Trim(key))) continue;
    if (value == nullptr) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      std::string& text = lines[i].text;
      text.erase(text.find('=') + 1);
      text += value;
    }
    return;
  }
  if (value != nullptr) InsertAfter(lines, lastFilled, Line{std::string(key) + "=" + value, ending});
}

void Apply(std::vector<Line>& lines, const char* section, const char* key, const char* value) {
  const std::string ending = LineEndingOf(lines);
  const std::size_t header = FindSection(lines, Trim(section));
  if (header == lines.size()) {
    if (key == nullptr || value == nullptr) return;  // nothing to remove
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on a
    // literal prefixed to a temporary string.
    std::string bracketed = "[";
    bracketed.append(section).append("]");
    Line heading{std::move(bracketed), ending};
    if (lines.empty()) lines.push_back(std::move(heading));
    else InsertAfter(lines, lines.size() - 1, std::move(heading));
    InsertAfter(lines, lines.size() - 1, Line{std::string(key) + "=" + value, ending});
    return;
  }
  if (key == nullptr) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header),
                lines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(lines, header)));
    return;
  }
  SetKey(lines, header, key, value, ending);
}

bool HasLineBreak(const char* text) { return text != nullptr && std::strpbrk(text, "\r\n") != nullptr; }

bool Acceptable(const char* section, const char* key, const char* value) {
  if (section == nullptr || Trim(section).empty() || std::strchr(section, ']') != nullptr) return false;
  if (key != nullptr && (Trim(key).empty() || std::strchr(key, '=') != nullptr)) return false;
  return !HasLineBreak(section) && !HasLineBreak(key) && !HasLineBreak(value);
}

// The folder holding path and the file's name in it; the folder's
// descriptor is -1 when it cannot be opened.
struct Place {
  int folder = -1;
  std::string name;
};

Place PlaceOf(const char* path) {
  const std::string text = path;
  const std::size_t slash = text.rfind('/');
  Place place;
  place.name = slash == std::string::npos ? text : text.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
  if (!place.name.empty()) place.folder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return place;
}

// The file's content; false on a read error other than "no such file", and
// for anything but a regular file (a FIFO would block the command, under
// the command lock, until someone wrote to it).
bool ReadFile(const Place& place, std::string* content, mode_t* mode) {
  content->clear();
  const int fd = ::openat(place.folder, place.name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return false;
  }
  *mode = status.st_mode & 07777;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    content->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

bool WriteAll(int fd, const std::string& content) {
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

constexpr std::size_t kTemporaryTail = 6;  // "<name>.XXXXXX", as mkstemp names them
constexpr char kTemporaryLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool IsTemporaryOf(const std::string& entry, const std::string& name) {
  if (entry.size() != name.size() + 1 + kTemporaryTail || entry.compare(0, name.size(), name) != 0 ||
      entry[name.size()] != '.') {
    return false;
  }
  return entry.find_first_not_of(kTemporaryLetters, name.size() + 1) == std::string::npos;
}

// A new "<name>.XXXXXX" in the folder, created exclusively (no link followed).
int CreateTemporary(const Place& place, std::string* temporary) {
  static unsigned long long seed = static_cast<unsigned long long>(::getpid()) * 0x9E3779B97F4A7C15ull;
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    *temporary = place.name + ".";
    unsigned long long bits = seed >> 16;
    for (std::size_t i = 0; i < kTemporaryTail; ++i, bits /= 62) temporary->push_back(kTemporaryLetters[bits % 62]);
    const int fd = ::openat(place.folder, temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Writes a temporary beside the file and renames it over the file, both
// relative to the folder opened once, so the two steps act in one folder.
bool ReplaceFile(const Place& place, const std::string& content, mode_t mode) {
  std::string temporary;
  const int fd = CreateTemporary(place, &temporary);
  if (fd < 0) return false;
  const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && (!kSyncWrites || ::fsync(fd) == 0);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::renameat(place.folder, temporary.c_str(), place.folder, place.name.c_str()) != 0) {
    ::unlinkat(place.folder, temporary.c_str(), 0);
    return false;
  }
  return true;
}

}  // namespace

int WriteProfileValue(const char* section, const char* key, const char* value, const char* file) {
  if (file == nullptr || file[0] == '\0' || !Acceptable(section, key, value)) return 0;
  std::lock_guard<std::mutex> guard(writeMutex);
  const Place place = PlaceOf(file);
  if (place.folder < 0) return 0;
  std::string content;
  mode_t mode = 0644;
  bool done = ReadFile(place, &content, &mode);
  if (done) {
    std::vector<Line> lines = SplitLines(content);
    Apply(lines, section, key, value);
    std::string changed;
    for (const Line& line : lines) changed += line.text + line.ending;
    // Nothing to change (a removal that found nothing) needs no write.
    done = changed == content || ReplaceFile(place, changed, mode);
  }
  ::close(place.folder);
  return done ? 1 : 0;
}

SettingsFolder CheckSettingsFolder(const char* file) {
  const std::string folder = FolderOf(file);
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return SettingsFolder::kMissing;
  std::string probe = folder + "/.vesk-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return SettingsFolder::kNotWritable;
  ::close(fd);
  ::unlink(probe.c_str());
  return SettingsFolder::kWritable;
}

int RemoveProfileLeftovers(const char* file) {
  if (file == nullptr || file[0] == '\0') return 0;
  const Place place = PlaceOf(file);
  if (place.folder < 0) return 0;
  DIR* listing = ::fdopendir(place.folder);
  if (listing == nullptr) {
    ::close(place.folder);
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = ::readdir(listing)) {
    struct stat status {};
    if (IsTemporaryOf(entry->d_name, place.name) &&
        ::fstatat(place.folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
        ::unlinkat(place.folder, entry->d_name, 0) == 0) {
      ++removed;
    }
  }
  ::closedir(listing);
  return removed;
}

const char* ImageSaveSettingsPath() { return settingsPath.c_str(); }

void SetImageSaveSettingsPath(const char* path) { settingsPath = path != nullptr ? path : ""; }

}  // namespace plat
