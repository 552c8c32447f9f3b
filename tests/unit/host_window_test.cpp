// The host window: the start-up and leaving steps in their order, the
// registry's enable flags, and every row of the window's message table,
// against the control-library double, a recording manager window on a
// thread of its own and recording stand-ins for the command server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/host.h"
#include "app/host_window.h"
#include "app/resources.h"
#include "desktop/ui.h"
#include "manager/manager_stand_in.h"
#include "platform/instance.h"
#include "platform/registry.h"
#include "protocol/command_table.h"
#include "scope/test_double.h"
#include "tests/support/registry_support.h"
#include "tests/support/tcp_support.h"
#include "tests/support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>

#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace vesk::testing {
namespace {

using Steps = std::vector<std::string>;
using plat::LParam;
using plat::LResult;
using plat::MessageId;
using plat::WindowHandle;
using plat::WParam;

constexpr std::uint16_t kTestPort = 4321;

std::mutex stepsMutex;
Steps steps;

void Note(const std::string& step) {
  std::lock_guard<std::mutex> guard(stepsMutex);
  steps.push_back(step);
}
Steps TakeSteps() {
  std::lock_guard<std::mutex> guard(stepsMutex);
  Steps taken;
  taken.swap(steps);
  return taken;
}
int CountOfStep(const Steps& all, const std::string& step) {
  int count = 0;
  for (const std::string& s : all) count += s == step ? 1 : 0;
  return count;
}

// The command server's part, recorded.
bool listenerStarts = true;
bool FakeStartListener(std::uint16_t port) {
  Note("listen " + std::to_string(port));
  return listenerStarts;
}
void FakeStop() {
  Note("stop connections, icons deleted " + std::to_string(plat::HeadlessDisplayRecord().notifyIconsDeleted));
}
void FakeInitialiseLock() { Note("initialise DispatchLock"); }
void FakeDeleteLock() { Note("delete DispatchLock"); }
void FakeCheckSettingsFolder() { Note("check settings folder"); }
constexpr host::HostServices kRecordingServices = {FakeStartListener, FakeStop, FakeInitialiseLock, FakeDeleteLock,
                                                   FakeCheckSettingsFolder};

// The manager application's window, on a thread of its own.
LResult ManagerProcedure(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
  if (message == host::kManagerNotice) {
    Note("manager " + std::to_string(message) + " " + std::to_string(wParam) + " " + std::to_string(lParam));
    return 77;  // the service does not look at the answer
  }
  return plat::DefaultWindowProcedure(window, message, wParam, lParam);
}

class RecordingManager {
 public:
  RecordingManager() {
    plat::RegisterWindowClass(plat::WindowClass{"RecordingManager", ManagerProcedure, 0, 0, 0, 0});
    std::promise<WindowHandle> created;
    thread_ = std::thread([&created] {
      const WindowHandle window = plat::CreateTopLevelWindow("RecordingManager", "manager");
      created.set_value(window);
      plat::WindowMessage message;
      while (plat::IsWindow(window) && plat::GetWindowMessage(&message)) plat::DispatchWindowMessage(message);
    });
    window_ = created.get_future().get();
  }
  ~RecordingManager() {
    plat::PostWindowMessage(window_, plat::kWmClose, 0, 0);
    thread_.join();
  }
  WindowHandle window() const { return window_; }

 private:
  std::thread thread_;
  WindowHandle window_ = nullptr;
};

// The two enable flags, in the registry editor's data forms; nullptr: no
// such value.
std::vector<RegistryEntry> Registry(const char* veskData, const char* fenkData) {
  return {{host::kVeskSettingsKey, host::kVeskFlagName, veskData != nullptr ? veskData : ""},
          {host::kFenkSettingsKey, host::kFenkFlagName, fenkData != nullptr ? fenkData : ""}};
}

// Where there is a display the about box and the context menu are real
// and modal; this closes them as a user would, from a thread of its own,
// and counts them. (Without a display the headless record counts them.)
class ModalCloser {
 public:
#if defined(_WIN32)
  ModalCloser() : thread_([this] { Run(); }) {}
  ~ModalCloser() {
    stop_ = true;
    thread_.join();
  }
  int dialogs() const { return dialogs_; }
  int menus() const { return menus_; }

 private:
  void Run() {
    HWND lastDialog = nullptr;
    bool menuShown = false;
    while (!stop_) {
      if (HWND dialog = ::FindWindowA("#32770", nullptr); dialog != nullptr) {
        if (dialog != lastDialog) ++dialogs_;
        lastDialog = dialog;
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
      }
      HWND menu = ::FindWindowA("#32768", nullptr);
      const bool shown = menu != nullptr && ::IsWindowVisible(menu) != FALSE;
      if (shown) {
        if (!menuShown) ++menus_;
        ::PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
      }
      menuShown = shown;
      ::Sleep(5);
    }
  }

  std::atomic<bool> stop_{false};
  std::atomic<int> dialogs_{0};
  std::atomic<int> menus_{0};
  std::thread thread_;
#else
  int dialogs() const { return plat::HeadlessDisplayRecord().dialogsRun; }
  int menus() const { return plat::HeadlessDisplayRecord().menusTracked; }
#endif
};

// The headless record counts the notification icons deleted; on Windows
// the shell does, and the record stays zero.
#if defined(_WIN32)
constexpr int kIconDeletesRecorded = 0;
#else
constexpr int kIconDeletesRecorded = 1;
#endif

class HostWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_double::Reset();
    for (SemOp op : {SemOp::GetManagerHandle, SemOp::SetVeskHandle, SemOp::SetWindowHandle}) {
      scope_double::SetHook(op, [](const scope_double::Call& call) {
        Note(std::string("sem ") + SemOpName(call.op));
        return 1;
      });
    }
    scope_double::SetManagerHandle(manager.window());
    plat::InstallResources(&resources::kSection);
    plat::ResetHeadlessDisplayRecord();
    plat::RegisterWindowClass(plat::WindowClass{"VESK", host::HostWindowProc, 0, 0, 0, 0});
    host::ConfigureHostWindow(&kRecordingServices, kTestPort);
    SetEnableFenkFlag(0);
    listenerStarts = true;
    TakeSteps();
  }

  void TearDown() override {
    if (plat::IsWindow(window)) plat::DestroyWindow(window);
    plat::WindowMessage message;
    while (plat::PeekWindowMessage(&message)) {
    }
    SetEnableFenkFlag(0);
  }

  // Creates the host window with the given registry.
  WindowHandle Create(const std::vector<RegistryEntry>& entries) {
    EXPECT_TRUE(registry.Install(entries));
    host::ConfigureHostWindow(&kRecordingServices, kTestPort);
    window = plat::CreateTopLevelWindow("VESK", "VESK");
    return window;
  }
  WindowHandle Started() {
    Create(Registry("dword:00000001", "dword:00000001"));
    EXPECT_NE(window, nullptr);
    TakeSteps();
    return window;
  }

  // Serves what waits in this thread's queue; true when a quit message with
  // exit code 0 was among it.
  bool PumpUntilIdle() {
    bool quit = false;
    plat::WindowMessage message;
    while (plat::PeekWindowMessage(&message)) {
      if (message.message == plat::kWmQuit) quit = quit || message.wParam == 0;
      else plat::DispatchWindowMessage(message);
    }
    return quit;
  }

  LResult Send(MessageId message, WParam wParam, LParam lParam) {
    return plat::SendWindowMessage(window, message, wParam, lParam);
  }

  RecordingManager manager;
  TestRegistry registry;
  WindowHandle window = nullptr;
};

const std::string kLeavingSteps[] = {"manager 1233 101 2",
                                     "stop connections, icons deleted " + std::to_string(kIconDeletesRecorded),
                                     "delete DispatchLock"};

TEST_F(HostWindowTest, StartUpStepsRunInOrderWhileTheWindowIsCreated) {
  ASSERT_NE(Create(Registry("dword:00000001", "dword:00000001")), nullptr);
  EXPECT_EQ(TakeSteps(), (Steps{"sem GetManagerHandle", "initialise DispatchLock", "sem SetVeskHandle",
                                "sem SetWindowHandle", "check settings folder", "listen 4321",
                                "manager 1233 100 2"}));
  const auto handle = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(window));
  EXPECT_EQ(scope_double::CallsTo(SemOp::SetVeskHandle)[0].args, (std::vector<std::int64_t>{handle}));
  EXPECT_EQ(scope_double::CallsTo(SemOp::SetWindowHandle)[0].args, (std::vector<std::int64_t>{handle, 1}));
  EXPECT_EQ(EnableFenkFlag(), 1);
  const host::HostState state = host::CurrentHostState();
  EXPECT_EQ(state.phase, host::HostPhase::kRunning);
  EXPECT_EQ(state.managerWindow, manager.window());
  EXPECT_TRUE(state.listenerStarted);
}

TEST_F(HostWindowTest, EnableFlagsDecideTheStartAndTheExtendedTable) {
  struct Case {
    const char* vesk;
    const char* fenk;
    bool starts;
    std::int16_t fenkFlag;
  };
  const Case cases[] = {
      {nullptr, nullptr, false, 0},                    // both missing
      {"dword:00000001", "dword:00000000", true, 0},   // base commands only
      {"dword:00000001", nullptr, true, 0},
      {"dword:00000000", "dword:00000001", true, 1},   // both tables
      {nullptr, "\"1\"", false, 49},                   // the text "1" reads as 49
      {"\"1\"", nullptr, false, 0},
      {"dword:00010001", nullptr, true, 0},            // only the low 16 bits count
      {"dword:00000002", nullptr, false, 0},
      {"dword:ffffffff", nullptr, false, 0},           // -1
      {"hex:01,00", nullptr, true, 0},                 // short data, zero-filled
      {"hex:01,00,00,00,00", nullptr, false, 0},       // too long: 0
      {nullptr, "dword:0001ffff", false, -1},
      {nullptr, "dword:00020001", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.vesk != nullptr ? c.vesk : "-") + " / " + (c.fenk != nullptr ? c.fenk : "-"));
    scope_double::ClearJournal();
    TakeSteps();
    const bool created = Create(Registry(c.vesk, c.fenk)) != nullptr;
    EXPECT_EQ(created, c.starts);
    EXPECT_EQ(EnableFenkFlag(), c.fenkFlag);
    EXPECT_EQ(host::CurrentHostState().enableFenk, c.fenkFlag);
    const Steps seen = TakeSteps();
    if (c.starts) {
      EXPECT_EQ(seen.back(), "manager 1233 100 2");
      plat::DestroyWindow(window);
      EXPECT_TRUE(PumpUntilIdle());
    } else {
      // Steps 1 to 6 ran and are not undone; nothing was started or
      // announced, and the destruction of the refused window did nothing.
      EXPECT_EQ(seen, (Steps{"sem GetManagerHandle", "initialise DispatchLock", "sem SetVeskHandle",
                             "sem SetWindowHandle"}));
      EXPECT_EQ(host::CurrentHostState().phase, host::HostPhase::kRefused);
      EXPECT_EQ(plat::FindWindowByClass("VESK"), nullptr);
      EXPECT_FALSE(PumpUntilIdle());
    }
  }
}

TEST_F(HostWindowTest, DestructionRunsTheLeavingStepsInOrder) {
  Started();
  EXPECT_TRUE(plat::DestroyWindow(window));
  EXPECT_EQ(TakeSteps(), (Steps(std::begin(kLeavingSteps), std::end(kLeavingSteps))));
  EXPECT_EQ(host::CurrentHostState().phase, host::HostPhase::kLeft);
  EXPECT_TRUE(PumpUntilIdle());  // the quit message, exit code 0
}

TEST_F(HostWindowTest, QuitRequestFromTheManagerPostsTheDestructionMessage) {
  Started();
  EXPECT_EQ(Send(host::kManagerRequest, 1, 0), 0);  // ignored
  EXPECT_EQ(Send(host::kManagerRequest, 0, 0), 0);
  EXPECT_EQ(Send(host::kManagerRequest, 3, 9), 0);
  EXPECT_FALSE(PumpUntilIdle());
  EXPECT_TRUE(TakeSteps().empty());

  EXPECT_EQ(Send(host::kManagerRequest, 2, 0), 1);
  EXPECT_TRUE(TakeSteps().empty());  // nothing yet: the message is only posted
  plat::WindowMessage message;
  ASSERT_TRUE(plat::PeekWindowMessage(&message));
  EXPECT_EQ(message.window, window);
  EXPECT_EQ(message.message, plat::kWmDestroy);
  plat::DispatchWindowMessage(message);
  EXPECT_EQ(TakeSteps(), (Steps(std::begin(kLeavingSteps), std::end(kLeavingSteps))));
  EXPECT_TRUE(plat::IsWindow(window));  // the window itself is not destroyed
  EXPECT_TRUE(PumpUntilIdle());
}

TEST_F(HostWindowTest, LeavingStepsRunOnlyOnce) {
  Started();
  EXPECT_EQ(Send(host::kManagerRequest, 2, 0), 1);
  EXPECT_EQ(Send(host::kManagerRequest, 2, 0), 1);  // asked twice
  EXPECT_TRUE(PumpUntilIdle());
  plat::DestroyWindow(window);  // and destroyed for real afterwards
  const Steps seen = TakeSteps();
  EXPECT_EQ(CountOfStep(seen, "manager 1233 101 2"), 1);
  EXPECT_EQ(CountOfStep(seen, "delete DispatchLock"), 1);
  EXPECT_EQ(seen.size(), 3u);
}

TEST_F(HostWindowTest, ExitCommandAndCloseRequestDestroyTheWindow) {
  for (MessageId message : {plat::kWmCommand, plat::kWmClose}) {
    Started();
    const WParam wParam = message == plat::kWmCommand ? plat::MakeWParam(IDM_EXIT, 0) : 0;
    EXPECT_EQ(Send(message, wParam, 0), 0);
    EXPECT_FALSE(plat::IsWindow(window));
    EXPECT_EQ(TakeSteps(), (Steps(std::begin(kLeavingSteps), std::end(kLeavingSteps))));
    EXPECT_TRUE(PumpUntilIdle());
    plat::ResetHeadlessDisplayRecord();
  }
}

// Log-off and shut-down: the leaving steps run before the message returns,
// as the process may be ended right after; a cancelled end changes nothing.
TEST_F(HostWindowTest, EndOfTheSessionRunsTheLeavingStepsAtOnce) {
  Started();
  EXPECT_EQ(Send(plat::kWmEndSession, 0, 0), 0);
  EXPECT_TRUE(TakeSteps().empty());
  EXPECT_EQ(Send(plat::kWmEndSession, 1, 0), 0);
  EXPECT_EQ(TakeSteps(), (Steps(std::begin(kLeavingSteps), std::end(kLeavingSteps))));
  EXPECT_TRUE(PumpUntilIdle());
}

TEST_F(HostWindowTest, AboutCommandShowsTheAboutBoxAndTheServiceGoesOn) {
  Started();
  CapturedOutput output;
  ModalCloser closer;
  EXPECT_EQ(Send(plat::kWmCommand, plat::MakeWParam(IDM_ABOUT, 0), 0), 0);
  EXPECT_EQ(Send(plat::kWmCommand, plat::MakeWParam(IDM_ABOUT, 1), 0), 0);  // from an accelerator
  EXPECT_EQ(closer.dialogs(), 2);
#if !defined(_WIN32)
  EXPECT_EQ(plat::HeadlessDisplayRecord().dialogId, IDD_ABOUTBOX);
  EXPECT_EQ(output.StandardError(), "VESK Version 1.0\nVESK Version 1.0\n");
#endif
  EXPECT_EQ(host::CurrentHostState().phase, host::HostPhase::kRunning);
  EXPECT_TRUE(plat::IsWindow(window));
  EXPECT_TRUE(TakeSteps().empty());

  // Alt+? and Alt+/ reach the same command through the accelerators.
  const plat::AcceleratorTable accelerators = plat::LoadAcceleratorTable(IDC_VESK);
#if defined(_WIN32)
  // Windows reads the Alt key's state, not the message, to tell Alt+?.
  BYTE keys[256] = {};
  ::GetKeyboardState(keys);
  keys[VK_MENU] = 0x80;
  ::SetKeyboardState(keys);
#endif
  for (WParam key : {WParam{'?'}, WParam{'/'}}) {
    EXPECT_TRUE(plat::TranslateAcceleratorMessage(window, accelerators, {window, plat::kWmSysChar, key, 0x20000000}));
  }
#if defined(_WIN32)
  keys[VK_MENU] = 0;
  ::SetKeyboardState(keys);
#endif
  EXPECT_EQ(closer.dialogs(), 4);
}

TEST_F(HostWindowTest, OtherCommandsAndMessagesGetTheDefaultHandling) {
  Started();
  EXPECT_EQ(Send(plat::kWmCommand, 106, 0), 0);
  EXPECT_EQ(Send(plat::kWmCommand, plat::MakeWParam(103, 0), 0), 0);
  EXPECT_EQ(Send(plat::kWmUser + 5, 1, 2), 0);
  EXPECT_EQ(Send(host::kManagerNotice, 100, 2), 0);
  EXPECT_TRUE(plat::IsWindow(window));
  EXPECT_EQ(plat::HeadlessDisplayRecord().dialogsRun, 0);
#if defined(_WIN32)
  EXPECT_EQ(::FindWindowA("#32770", nullptr), nullptr);  // no about box
#endif
  EXPECT_TRUE(TakeSteps().empty());
}

TEST_F(HostWindowTest, PaintDrawsTheHelloTextAndRestoreIsRefused) {
  Started();
  EXPECT_EQ(Send(plat::kWmPaint, 0, 0), 0);
#if !defined(_WIN32)
  const plat::HeadlessDisplay shown = plat::HeadlessDisplayRecord();
  EXPECT_EQ(shown.paints, 1);
  EXPECT_STREQ(shown.paintedText, "Hello World!");
#endif
  EXPECT_EQ(Send(plat::kWmQueryOpen, 0, 0), 0);
  EXPECT_TRUE(plat::IsWindow(window));
}

TEST_F(HostWindowTest, RightClickOnTheNotifyIconTracksTheContextMenu) {
  Started();
  struct Case {
    WParam wParam;
    LParam lParam;
    int tracked;
  };
  const Case cases[] = {{1, 516, 0}, {2, 517, 0}, {0, 517, 0}, {1, 0, 0}, {1, 517, 1}};
  ModalCloser closer;
  for (const Case& c : cases) {
    EXPECT_EQ(Send(host::kNotifyIconMessage, c.wParam, c.lParam), 0);
    EXPECT_EQ(closer.menus(), c.tracked) << c.wParam << " " << c.lParam;
  }
#if defined(_WIN32)
  EXPECT_TRUE(plat::IsWindow(window));
  return;  // the record below is the headless display's
#endif
  const plat::HeadlessDisplay shown = plat::HeadlessDisplayRecord();
  EXPECT_EQ(shown.menuId, IDR_CONTEXT_MENU);
  EXPECT_EQ(shown.popupIndex, 0);
  EXPECT_STREQ(shown.popupText, "EXIT");
  EXPECT_EQ(shown.menuOwner, window);
  EXPECT_TRUE(plat::IsWindow(window));
}

TEST_F(HostWindowTest, ServiceWithoutListenerThreadStillRunsAndSaysSo) {
  CapturedOutput output;
  listenerStarts = false;
  ASSERT_NE(Create(Registry("dword:00000001", nullptr)), nullptr);
  EXPECT_FALSE(host::CurrentHostState().listenerStarted);
  EXPECT_EQ(host::CurrentHostState().phase, host::HostPhase::kRunning);
  EXPECT_NE(output.StandardError().find("error at CreateThread()"), std::string::npos);
}

TEST_F(HostWindowTest, WithoutManagerWindowTheNoticesGoNowhere) {
  scope_double::SetManagerHandle(nullptr);
  ASSERT_NE(Create(Registry("dword:00000001", nullptr)), nullptr);
  plat::DestroyWindow(window);
  const Steps seen = TakeSteps();
  EXPECT_EQ(CountOfStep(seen, "manager 1233 100 2") + CountOfStep(seen, "manager 1233 101 2"), 0);
  EXPECT_EQ(CountOfStep(seen, "delete DispatchLock"), 1);
  EXPECT_TRUE(PumpUntilIdle());
}

TEST(AboutDialogProcTest, EndsOnOkAndCancelOnly) {
  plat::InstallResources(&resources::kSection);
  EXPECT_EQ(host::AboutDialogProc(nullptr, plat::kWmInitDialog, 0, 0), 1);
  EXPECT_EQ(host::AboutDialogProc(nullptr, plat::kWmPaint, 0, 0), 0);
  EXPECT_EQ(host::AboutDialogProc(nullptr, plat::kWmCommand, 3, 0), 0);
  [[maybe_unused]] ModalCloser closer;  // presses OK where the dialog is real
  EXPECT_EQ(plat::RunModalDialog(nullptr, IDD_ABOUTBOX, host::AboutDialogProc), 1);  // OK is the default
}


// The entry point with the manager stand-in: single instance, refusal, and
// the manager's quit request ending the service with exit code 0.
class RunHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_double::Reset();
    plat::ResetHeadlessDisplayRecord();
    listenerStarts = true;
    TakeSteps();
    options.port = kTestPort;
    options.services = &kRecordingServices;
    // The lock is held for the life of the process: a fresh name each run.
    static int run = 0;
    instanceName = "VeskInstanceTest-" + std::to_string(::getpid()) + "-" + std::to_string(++run);
    options.instanceName = instanceName.c_str();
  }
  void UseRegistry(const std::vector<RegistryEntry>& entries) { ASSERT_TRUE(registry.Install(entries)); }
  // Runs the service on a thread of its own, as its main thread.
  std::future<int> RunInBackground() {
    return std::async(std::launch::async, [this] { return host::RunHost(options); });
  }

  host::HostOptions options;
  std::string instanceName;
  TestRegistry registry;
};

using Received = std::vector<manager::ReceivedMessage>;
constexpr manager::ReceivedMessage kStarted{1233, 100, 2};
constexpr manager::ReceivedMessage kLeaving{1233, 101, 2};

TEST_F(RunHostTest, SecondInstanceEndsAtOnceWithoutTouchingAnything) {
  ASSERT_EQ(plat::AcquireInstanceLock(options.instanceName), plat::InstanceLockResult::kAcquired);
  UseRegistry(Registry("dword:00000001", "dword:00000001"));
  EXPECT_EQ(host::RunHost(options), 0);
  EXPECT_TRUE(scope_double::Journal().empty());
  EXPECT_TRUE(TakeSteps().empty());
  EXPECT_EQ(plat::FindWindowByClass("VESK"), nullptr);
}

TEST_F(RunHostTest, StartRefusedByTheRegistryEndsWithZeroAndAnnouncesNothing) {
  manager::ManagerStandIn standIn;
  ASSERT_TRUE(standIn.Start());
  scope_double::SetManagerHandle(standIn.Window());
  UseRegistry(Registry("dword:00000000", "\"1\""));
  EXPECT_EQ(host::RunHost(options), 0);
  EXPECT_EQ(CountOfStep(TakeSteps(), "listen 4321"), 0);
  standIn.Stop();
  EXPECT_TRUE(standIn.Received().empty());
}

TEST_F(RunHostTest, ManagerQuitRequestEndsTheServiceInOrder) {
  CapturedOutput output;
  manager::ManagerStandIn standIn(manager::StandInOptions{true, "VESK"});
  ASSERT_TRUE(standIn.Start());
  scope_double::SetManagerHandle(standIn.Window());
  UseRegistry(Registry("dword:00000001", "dword:00000001"));
  std::future<int> exitCode = RunInBackground();
  ASSERT_TRUE(standIn.WaitFor(kStarted, 5000));
  standIn.RequestServiceQuit();
  ASSERT_EQ(exitCode.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(exitCode.get(), 0);
  EXPECT_EQ(standIn.Received(), (Received{kStarted, kLeaving}));
  EXPECT_EQ(standIn.QuitRequestsSent(), 1);
  EXPECT_EQ(TakeSteps(), (Steps{"initialise DispatchLock", "check settings folder", "listen 4321",
                                "stop connections, icons deleted " + std::to_string(kIconDeletesRecorded),
                                "delete DispatchLock"}));
  EXPECT_EQ(plat::FindWindowByClass("VESK"), nullptr);
  standIn.Stop();
  EXPECT_EQ(output.StandardError(),
            "manager: received 1233 100 2\nmanager: sent 1224 2 0\nmanager: received 1233 101 2\n");
}

TEST_F(RunHostTest, QuitRequestedBeforeTheServiceStartsIsCarriedOutOnItsStart) {
  manager::ManagerStandIn standIn;
  standIn.RequestServiceQuit();  // before even the stand-in's window exists
  ASSERT_TRUE(standIn.Start());
  scope_double::SetManagerHandle(standIn.Window());
  UseRegistry(Registry("dword:00000001", nullptr));
  std::future<int> exitCode = RunInBackground();
  ASSERT_EQ(exitCode.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(exitCode.get(), 0);
  ASSERT_TRUE(standIn.WaitFor(kLeaving, 5000));
  EXPECT_EQ(standIn.Received(), (Received{kStarted, kLeaving}));
}

// Ctrl+C, Ctrl+Break and a closed console reach RequestLeave on a thread of
// the system's: the same leave as the manager's quit request, also when
// asked before the window exists, and once only when asked twice.
TEST_F(RunHostTest, StopRequestLeavesAsTheManagersQuitRequestDoes) {
  manager::ManagerStandIn standIn;
  ASSERT_TRUE(standIn.Start());
  scope_double::SetManagerHandle(standIn.Window());
  UseRegistry(Registry("dword:00000001", nullptr));
  for (const bool early : {false, true}) {
    SCOPED_TRACE(early);
    const std::string name = instanceName + (early ? "-early" : "");  // the lock stays held
    options.instanceName = name.c_str();
    TakeSteps();
    if (early) host::RequestLeave();
    std::future<int> exitCode = RunInBackground();
    if (!early) {
      ASSERT_TRUE(standIn.WaitFor(kStarted, 5000));
      std::thread([] { host::RequestLeave(); }).join();
      host::RequestLeave();
    }
    ASSERT_EQ(exitCode.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(exitCode.get(), 0);
    EXPECT_EQ(CountOfStep(TakeSteps(), "delete DispatchLock"), 1);
  }
  standIn.Stop();
  EXPECT_EQ(standIn.Received(), (Received{kStarted, kLeaving, kStarted, kLeaving}));
  EXPECT_EQ(standIn.QuitRequestsSent(), 0);  // the service asked itself
}

}  // namespace
}  // namespace vesk::testing
