// Private-profile writes on POSIX. The file is read whole, changed line by
// line and written back through a temporary file that replaces it in one
// step, so a crash half-way never leaves a truncated settings file.
#include <cerrno>
#include <cstdio>
#include <cstring>
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

// The file's content; false on a read error other than "no such file".
bool ReadFile(const char* path, std::string* content, mode_t* mode) {
  content->clear();
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  struct stat status {};
  if (::fstat(fd, &status) == 0) *mode = status.st_mode & 07777;
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

// Writes through "<path>.XXXXXX" and renames it over the file.
bool ReplaceFile(const char* path, const std::string& content, mode_t mode) {
  std::string temporary = std::string(path) + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && (!kSyncWrites || ::fsync(fd) == 0);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

int WriteProfileValue(const char* section, const char* key, const char* value, const char* file) {
  if (file == nullptr || file[0] == '\0' || !Acceptable(section, key, value)) return 0;
  std::lock_guard<std::mutex> guard(writeMutex);
  std::string content;
  mode_t mode = 0644;
  if (!ReadFile(file, &content, &mode)) return 0;
  std::vector<Line> lines = SplitLines(content);
  Apply(lines, section, key, value);
  std::string changed;
  for (const Line& line : lines) changed += line.text + line.ending;
  if (changed == content) return 1;  // nothing to change (a removal that found nothing)
  return ReplaceFile(file, changed, mode) ? 1 : 0;
}

const char* ImageSaveSettingsPath() { return settingsPath.c_str(); }

void SetImageSaveSettingsPath(const char* path) { settingsPath = path != nullptr ? path : ""; }

}  // namespace plat
