// A stand-in for the microscope's manager application, for running the
// service without the instrument's own software. It owns one window on a
// thread of its own, the window that the control library reports as the
// manager's: it takes the service's notices (message 1233: wParam 100 at
// start, 101 when leaving), and on request asks the service to quit
// (message 1224 with wParam 2), as the manager application does.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "desktop/window.h"
#include "platform/platform.h"

namespace vesk::manager {

inline constexpr plat::MessageId kServiceNotice = 1233;
inline constexpr plat::MessageId kServiceRequest = 1224;
inline constexpr plat::WParam kRequestQuit = 2;
// Posted to the stand-in's own window: ask the service to quit.
inline constexpr plat::MessageId kQuitServiceNow = plat::kWmApp + 1;

struct ReceivedMessage {
  plat::MessageId message;
  plat::WParam wParam;
  plat::LParam lParam;
  bool operator==(const ReceivedMessage&) const = default;
};

struct StandInOptions {
  // Write every notice received, and every quit request sent, to the
  // standard error stream.
  bool log = false;
  // The class of the service's window, which the stand-in looks up when
  // it asks the service to quit.
  const char* serviceClassName = "VESK";
};

class ManagerStandIn {
 public:
  explicit ManagerStandIn(StandInOptions options = {});
  ~ManagerStandIn();
  ManagerStandIn(const ManagerStandIn&) = delete;
  ManagerStandIn& operator=(const ManagerStandIn&) = delete;

  // Starts the thread and its window; false if either failed.
  bool Start();
  // Closes the window and waits for the thread. Safe to call twice.
  void Stop();
  plat::WindowHandle Window() const { return window_.load(); }

  // Asks the service to quit, from the stand-in's own thread. Safe from
  // any thread. A request made before the service's window exists is kept
  // and carried out when the service announces its start.
  void RequestServiceQuit();

  std::vector<ReceivedMessage> Received() const;
  // Waits until the message has been received (or the time-out passed).
  bool WaitFor(const ReceivedMessage& wanted, std::uint32_t timeoutMs) const;
  int QuitRequestsSent() const;

 private:
  static void ThreadMain(void* self);
  static plat::LResult Procedure(plat::WindowHandle window, plat::MessageId message, plat::WParam wParam,
                                 plat::LParam lParam);
  void Run();
  plat::LResult OnNotice(plat::WindowHandle window, plat::WParam wParam, plat::LParam lParam);
  void QuitService();

  StandInOptions options_;
  std::atomic<plat::WindowHandle> window_{nullptr};
  std::atomic<bool> quitPending_{false};
  plat::ThreadHandle thread_ = nullptr;
  plat::Event ready_;
  // The platform's lock and event rather than the standard library's: the
  // Windows XP build's runtime has none.
  mutable plat::Event changed_;  // set after each change under mutex_
  mutable plat::Lock mutex_;
  std::vector<ReceivedMessage> received_;
  int quitRequestsSent_ = 0;
};

}  // namespace vesk::manager
