#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "client/command_catalogue.h"
#include "platform/profile.h"
#include "protocol/command_table.h"
#include "protocol/wait_clock.h"
#include "protocol/wire.h"
#include "sim/simulator.h"

namespace vesk::fuzz {
namespace {

namespace fs = std::filesystem;

// The image folder sits two levels down, so an escape by ".." lands in a
// folder this code watches.
struct Sandbox {
  fs::path root;
  fs::path middle;
  fs::path images;
  fs::path settings;
};

// Waits take no time: every look at the clock moves it on a little, and a
// sleep moves it by its length.
std::uint32_t fakeTicks = 0;
std::uint32_t FakeTickCount() { return fakeTicks += 1; }
void FakeSleep(std::uint32_t milliseconds) { fakeTicks += milliseconds; }
const WaitClock kFakeWaitClock{FakeTickCount, FakeSleep};

const Sandbox& TheSandbox() {
  static const Sandbox sandbox = [] {
    Sandbox made;
    // libFuzzer ends without running exit handlers, so a run that names its
    // sandbox (scripts/fuzz.sh) removes it itself; otherwise a fresh one.
    if (const char* named = std::getenv("VESK_FUZZ_SANDBOX"); named != nullptr && named[0] != '\0') {
      made.root = named;
    } else {
      std::random_device random;
      made.root = fs::temp_directory_path() / ("vesk-fuzz-" + std::to_string(random()));
    }
    std::error_code stale;
    fs::remove_all(made.root, stale);
    made.middle = made.root / "m";
    made.images = made.middle / "images";
    made.settings = made.middle / "seminfo.ini";
    std::error_code error;
    fs::create_directories(made.images, error);
    if (error) Fail("cannot create the sandbox");
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(TheSandbox().root, ignored);
    });
    return made;
  }();
  return sandbox;
}

bool ServedCode(const std::uint8_t* header, const client::CommandInfo** info) {
  if (header[10] != 0) return false;
  *info = client::FindCommandInfo(std::string_view(reinterpret_cast<const char*>(header + 6), 4));
  if (*info == nullptr) return false;
  return (*info)->table == client::CommandTableKind::kBase || EnableFenkFlag() == 1;
}

bool StatusAllowed(const client::CommandInfo& info, std::int16_t requestStatus, std::int16_t status) {
  if (status == -1 && info.failureBody != client::FailureBody::kCannotFail) return true;
  const std::optional<std::int16_t> success = client::SuccessStatusValue(info);
  return status == (success ? *success : requestStatus);
}

bool OnlyExpected(const fs::path& folder, std::string_view a, std::string_view b) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name != a && name != b) {
      std::fprintf(stderr, "unexpected file %s\n", entry.path().c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

void ResetForInput(std::uint8_t flags) {
  const Sandbox& sandbox = TheSandbox();
  static const bool once = [&] {
    SetWaitClockForTesting(&kFakeWaitClock);
    plat::SetImageSaveSettingsPath(sandbox.settings.string().c_str());
    return true;
  }();
  (void)once;
  sim::SimulatorOptions options;
  options.timeScale = 0.0;  // every motion, run and capture completes at once
  options.imageFolder = sandbox.images;
  options.settingsFile = sandbox.settings;
  // VESK_FUZZ_FULL_CAPTURES=1 renders and encodes every capture, to compare.
  static const bool fullCaptures = std::getenv("VESK_FUZZ_FULL_CAPTURES") != nullptr;
  options.placeholderCaptures = !fullCaptures;
  std::string error;
  if (!sim::ApplySimulatorOptions(options, std::make_shared<sim::ManualClock>(), &error)) Fail(error.c_str());
  SetEnableFenkFlag((flags & 1) != 0 ? 1 : 0);
}

void CheckDispatched(const std::uint8_t* request, const std::uint8_t* after, std::size_t compared) {
  const client::CommandInfo* info = nullptr;
  if (!ServedCode(request, &info)) {
    if (std::memcmp(request, after, compared) != 0) Fail("a code not served changed the buffer");
    return;
  }
  if (std::memcmp(after + 2, "BS!a", 4) != 0) Fail("reply magic is not BS!a");
  if (std::memcmp(after + 6, request + 6, 4) != 0) Fail("reply code differs from the request's");
  if (std::memcmp(after + 12, request + 12, 4) != 0) Fail("reply reserved bytes differ from the request's");
  if (ReadU16(after) != 16 + info->replySize) Fail("reply length is not the command's fixed length");
  if (!StatusAllowed(*info, ReadS16(request + 10), ReadS16(after + 10))) Fail("reply status is not -1, 0 or the body size");
}

void CheckConfinement() {
  const Sandbox& sandbox = TheSandbox();
  if (const std::optional<sim::CaptureRecord> capture = sim::LastCapture(); capture && capture->written) {
    const fs::path file = capture->file.lexically_normal();
    const auto [folderEnd, fileAt] = std::mismatch(sandbox.images.begin(), sandbox.images.end(), file.begin(), file.end());
    if (folderEnd != sandbox.images.end() || fileAt == file.end()) Fail("a capture was written outside the image folder");
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(sandbox.images, error)) fs::remove_all(entry.path(), error);
  }
  // Settings are written through a temporary beside the file, renamed at once.
  if (!OnlyExpected(sandbox.root, "m", "m") || !OnlyExpected(sandbox.middle, "images", "seminfo.ini")) {
    Fail("a file appeared outside the image folder");
  }
}

}  // namespace vesk::fuzz
