#include "manager/manager_stand_in.h"

#include <cstdio>

namespace vesk::manager {
namespace {

constexpr char kClassName[] = "VeskManagerStandIn";
constexpr std::uint32_t kStartTimeoutMs = 10000;

}  // namespace

ManagerStandIn::ManagerStandIn(StandInOptions options) : options_(options) {}

ManagerStandIn::~ManagerStandIn() { Stop(); }

bool ManagerStandIn::Start() {
  if (thread_ != nullptr) return window_.load() != nullptr;
  thread_ = plat::Platform().startThread(ThreadMain, this);
  if (thread_ == nullptr) return false;
  ready_.Wait(kStartTimeoutMs);
  return window_.load() != nullptr;
}

void ManagerStandIn::Stop() {
  if (thread_ == nullptr) return;
  if (const plat::WindowHandle window = window_.load(); window != nullptr) {
    plat::PostWindowMessage(window, plat::kWmClose, 0, 0);
  }
  plat::Platform().joinThread(thread_);
  thread_ = nullptr;
  window_.store(nullptr);
}

void ManagerStandIn::ThreadMain(void* self) { static_cast<ManagerStandIn*>(self)->Run(); }

void ManagerStandIn::Run() {
  plat::RegisterWindowClass(plat::WindowClass{kClassName, Procedure, 0, 0, 0, 0});
  const plat::WindowHandle window = plat::CreateTopLevelWindow(kClassName, "VESK manager stand-in");
  if (window != nullptr) plat::SetWindowContext(window, this);
  window_.store(window);
  ready_.Set();
  if (window == nullptr) return;
  if (quitPending_.exchange(false)) plat::PostWindowMessage(window, kQuitServiceNow, 0, 0);
  plat::WindowMessage message;
  while (plat::GetWindowMessage(&message)) plat::DispatchWindowMessage(message);
}

plat::LResult ManagerStandIn::Procedure(plat::WindowHandle window, plat::MessageId message, plat::WParam wParam,
                                        plat::LParam lParam) {
  auto* self = static_cast<ManagerStandIn*>(plat::WindowContext(window));
  if (message == plat::kWmDestroy) {
    plat::PostQuitMessage(0);
    return 0;
  }
  if (self != nullptr && message == kServiceNotice) return self->OnNotice(window, wParam, lParam);
  if (self != nullptr && message == kQuitServiceNow) {
    self->QuitService();
    return 0;
  }
  return plat::DefaultWindowProcedure(window, message, wParam, lParam);
}

plat::LResult ManagerStandIn::OnNotice(plat::WindowHandle window, plat::WParam wParam, plat::LParam lParam) {
  {
    plat::LockGuard guard(mutex_);
    received_.push_back(ReceivedMessage{kServiceNotice, wParam, lParam});
  }
  changed_.Set();
  if (options_.log) {
    char line[96];
    std::snprintf(line, sizeof line, "manager: received %u %lu %ld\n", static_cast<unsigned>(kServiceNotice),
                  static_cast<unsigned long>(wParam), static_cast<long>(lParam));
    plat::Platform().writeStandardError(line);
  }
  // The service has started: a quit request that found no service earlier
  // is carried out now.
  if (wParam == 100 && quitPending_.exchange(false)) plat::PostWindowMessage(window, kQuitServiceNow, 0, 0);
  return 0;
}

void ManagerStandIn::RequestServiceQuit() {
  quitPending_.store(true);
  const plat::WindowHandle window = window_.load();
  if (window != nullptr && quitPending_.exchange(false)) plat::PostWindowMessage(window, kQuitServiceNow, 0, 0);
}

void ManagerStandIn::QuitService() {
  const plat::WindowHandle service = plat::FindWindowByClass(options_.serviceClassName);
  if (service == nullptr) {
    quitPending_.store(true);
    return;
  }
  if (options_.log) {
    char line[96];
    std::snprintf(line, sizeof line, "manager: sent %u %lu 0\n", static_cast<unsigned>(kServiceRequest),
                  static_cast<unsigned long>(kRequestQuit));
    plat::Platform().writeStandardError(line);
  }
  plat::SendWindowMessage(service, kServiceRequest, kRequestQuit, 0);
  {
    plat::LockGuard guard(mutex_);
    ++quitRequestsSent_;
  }
  changed_.Set();
}

std::vector<ReceivedMessage> ManagerStandIn::Received() const {
  plat::LockGuard guard(mutex_);
  return received_;
}

// The event is reset under the lock after a fruitless look, so a change
// made after that look sets it again and ends the wait.
bool ManagerStandIn::WaitFor(const ReceivedMessage& wanted, std::uint32_t timeoutMs) const {
  const std::uint32_t start = plat::NativePlatform().tickCount();
  for (;;) {
    {
      plat::LockGuard guard(mutex_);
      for (const ReceivedMessage& received : received_) {
        if (received == wanted) return true;
      }
      changed_.Reset();
    }
    const std::uint32_t waited = plat::NativePlatform().tickCount() - start;
    if (waited >= timeoutMs) return false;
    changed_.Wait(timeoutMs - waited);
  }
}

int ManagerStandIn::QuitRequestsSent() const {
  plat::LockGuard guard(mutex_);
  return quitRequestsSent_;
}

}  // namespace vesk::manager
