// The window layer on POSIX: an in-process model of Win32 windows. Each
// thread that uses it has one message queue with two parts, posted messages
// and messages sent from other threads; a window's procedure only ever runs
// on the thread that created the window.
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

#include "desktop/posix/ui_internal.h"
#include "desktop/window.h"
#include "platform/platform.h"

namespace plat {
namespace {

struct ThreadQueue;

// A message sent from another thread, waiting for its answer.
struct SentMessage {
  std::uintptr_t target;
  MessageId message;
  WParam wParam;
  LParam lParam;
  std::shared_ptr<ThreadQueue> sender;
  LResult result = 0;  // result and done: guarded by sender->mutex
  bool done = false;
};

struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<WindowMessage> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quitPosted = false;
  int quitCode = 0;
  bool closed = false;  // the thread has ended
};

struct WindowRecord {
  std::uintptr_t id = 0;
  std::string className;
  WindowProcedure procedure = nullptr;
  std::shared_ptr<ThreadQueue> owner;
  bool isDialog = false;
  // Guarded by the registry's mutex:
  void* context = nullptr;
  bool destroying = false;
  bool dialogEnded = false;
  LResult dialogResult = 0;
};

struct ClassRecord {
  std::string name;
  WindowProcedure procedure;
};

struct Registry {
  std::mutex mutex;
  std::map<std::uintptr_t, std::shared_ptr<WindowRecord>> windows;
  std::vector<ClassRecord> classes;
  std::uintptr_t nextId = 0x10010;  // never 0, never reused
};

// Never destroyed: threads may still finish with their windows while the
// process runs its exit handlers.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

WindowHandle HandleOf(std::uintptr_t id) { return reinterpret_cast<WindowHandle>(id); }
std::uintptr_t IdOf(WindowHandle window) { return reinterpret_cast<std::uintptr_t>(window); }

std::shared_ptr<WindowRecord> Find(WindowHandle window) {
  if (window == nullptr) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  auto found = registry.windows.find(IdOf(window));
  return found == registry.windows.end() ? nullptr : found->second;
}

WindowHandle Register(const std::shared_ptr<WindowRecord>& record) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  record->id = registry.nextId;
  registry.nextId += 2;
  registry.windows.emplace(record->id, record);
  return HandleOf(record->id);
}

void Complete(SentMessage& sent, LResult result) {
  std::lock_guard<std::mutex> guard(sent.sender->mutex);
  sent.result = result;
  sent.done = true;
  sent.sender->changed.notify_all();
}

// Answers, with 0, the messages in queue sent to target (0: to any window).
void AnswerPending(ThreadQueue& queue, std::uintptr_t target) {
  std::vector<std::shared_ptr<SentMessage>> answered;
  {
    std::lock_guard<std::mutex> guard(queue.mutex);
    for (auto it = queue.sent.begin(); it != queue.sent.end();) {
      if (target == 0 || (*it)->target == target) {
        answered.push_back(*it);
        it = queue.sent.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& sent : answered) Complete(*sent, 0);
}

void CloseQueue(const std::shared_ptr<ThreadQueue>& queue) {
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::mutex> guard(registry.mutex);
    for (auto it = registry.windows.begin(); it != registry.windows.end();) {
      it = it->second->owner == queue ? registry.windows.erase(it) : std::next(it);
    }
  }
  {
    std::lock_guard<std::mutex> guard(queue->mutex);
    queue->closed = true;
  }
  AnswerPending(*queue, 0);
}

// The calling thread's queue, made on first use and closed when the thread
// ends: its windows go, and whoever still waits for an answer gets 0.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
  QueueHolder() = default;
  QueueHolder(const QueueHolder&) = delete;
  QueueHolder& operator=(const QueueHolder&) = delete;
  ~QueueHolder() { CloseQueue(queue); }
};

const std::shared_ptr<ThreadQueue>& CurrentQueue() {
  thread_local QueueHolder holder;
  return holder.queue;
}

bool OwnedByCaller(const WindowRecord& record) { return record.owner == CurrentQueue(); }

void Deliver(SentMessage& sent) {
  std::shared_ptr<WindowRecord> record = Find(HandleOf(sent.target));
  LResult result = 0;
  if (record != nullptr && OwnedByCaller(*record)) {
    result = record->procedure(HandleOf(sent.target), sent.message, sent.wParam, sent.lParam);
  }
  Complete(sent, result);
}

// Serves one waiting sent message, if any; the lock is released meanwhile.
bool ServeOneSent(ThreadQueue& queue, std::unique_lock<std::mutex>& lock) {
  if (queue.sent.empty()) return false;
  std::shared_ptr<SentMessage> incoming = queue.sent.front();
  queue.sent.pop_front();
  lock.unlock();
  Deliver(*incoming);
  lock.lock();
  return true;
}

// The next posted message or the quit message; false when neither waits.
bool TakeNext(ThreadQueue& queue, WindowMessage* message) {
  if (!queue.posted.empty()) {
    *message = queue.posted.front();
    queue.posted.pop_front();
    return true;
  }
  if (queue.quitPosted) {
    queue.quitPosted = false;
    *message = WindowMessage{nullptr, kWmQuit, static_cast<WParam>(queue.quitCode), 0};
    return true;
  }
  return false;
}

}  // namespace

int RegisterWindowClass(const WindowClass& windowClass) {
  if (windowClass.name == nullptr || windowClass.procedure == nullptr) return 0;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  for (const ClassRecord& known : registry.classes) {
    if (strcasecmp(known.name.c_str(), windowClass.name) == 0) return 0;
  }
  registry.classes.push_back(ClassRecord{windowClass.name, windowClass.procedure});
  return 1;
}

WindowHandle CreateTopLevelWindow(const char* className, const char* title) {
  (void)title;
  auto record = std::make_shared<WindowRecord>();
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    for (const ClassRecord& known : registry.classes) {
      if (className != nullptr && strcasecmp(known.name.c_str(), className) == 0) {
        record->className = known.name;
        record->procedure = known.procedure;
      }
    }
  }
  if (record->procedure == nullptr) return nullptr;
  record->owner = CurrentQueue();
  const WindowHandle window = Register(record);
  if (record->procedure(window, kWmCreate, 0, 0) == -1) {
    DestroyWindow(window);
    return nullptr;
  }
  return window;
}

bool DestroyWindow(WindowHandle window) {
  std::shared_ptr<WindowRecord> record = Find(window);
  if (record == nullptr || !OwnedByCaller(*record)) return false;
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::mutex> guard(registry.mutex);
    if (record->destroying) return true;  // destroyed again from its own kWmDestroy
    record->destroying = true;
  }
  record->procedure(window, kWmDestroy, 0, 0);
  {
    std::lock_guard<std::mutex> guard(registry.mutex);
    registry.windows.erase(record->id);
  }
  AnswerPending(*record->owner, record->id);
  return true;
}

bool IsWindow(WindowHandle window) { return Find(window) != nullptr; }

WindowHandle FindWindowByClass(const char* className) {
  if (className == nullptr) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  for (const auto& [id, record] : registry.windows) {
    if (!record->isDialog && !record->destroying && strcasecmp(record->className.c_str(), className) == 0) {
      return HandleOf(id);
    }
  }
  return nullptr;
}

void HideWindow(WindowHandle) {}

void SetWindowContext(WindowHandle window, void* context) {
  std::shared_ptr<WindowRecord> record = Find(window);
  if (record == nullptr) return;
  std::lock_guard<std::mutex> guard(TheRegistry().mutex);
  record->context = context;
}

void* WindowContext(WindowHandle window) {
  std::shared_ptr<WindowRecord> record = Find(window);
  if (record == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(TheRegistry().mutex);
  return record->context;
}

LResult SendWindowMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
  std::shared_ptr<WindowRecord> record = Find(window);
  if (record == nullptr) return 0;
  const std::shared_ptr<ThreadQueue>& mine = CurrentQueue();
  if (record->owner == mine) return record->procedure(window, message, wParam, lParam);

  auto sent = std::make_shared<SentMessage>(SentMessage{IdOf(window), message, wParam, lParam, mine});
  {
    std::lock_guard<std::mutex> guard(record->owner->mutex);
    if (record->owner->closed) return 0;
    record->owner->sent.push_back(sent);
    record->owner->changed.notify_all();
  }
  std::unique_lock<std::mutex> lock(mine->mutex);
  while (!sent->done) {
    if (!ServeOneSent(*mine, lock)) mine->changed.wait(lock);
  }
  return sent->result;
}

bool PostWindowMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
  std::shared_ptr<ThreadQueue> queue;
  if (window == nullptr) {
    queue = CurrentQueue();
  } else {
    std::shared_ptr<WindowRecord> record = Find(window);
    if (record == nullptr) return false;
    queue = record->owner;
  }
  std::lock_guard<std::mutex> guard(queue->mutex);
  if (queue->closed) return false;
  queue->posted.push_back(WindowMessage{window, message, wParam, lParam});
  queue->changed.notify_all();
  return true;
}

bool GetWindowMessage(WindowMessage* message) {
  ThreadQueue& queue = *CurrentQueue();
  std::unique_lock<std::mutex> lock(queue.mutex);
  for (;;) {
    if (ServeOneSent(queue, lock)) continue;
    if (TakeNext(queue, message)) return message->message != kWmQuit;
    queue.changed.wait(lock);
  }
}

bool SentMessageWaiting() {
  ThreadQueue& queue = *CurrentQueue();
  std::lock_guard<std::mutex> guard(queue.mutex);
  return !queue.sent.empty();
}

bool PeekWindowMessage(WindowMessage* message) {
  ThreadQueue& queue = *CurrentQueue();
  std::unique_lock<std::mutex> lock(queue.mutex);
  while (ServeOneSent(queue, lock)) {
  }
  return TakeNext(queue, message);
}

void TranslateWindowMessage(const WindowMessage&) {}  // no keyboard here

LResult DispatchWindowMessage(const WindowMessage& message) {
  std::shared_ptr<WindowRecord> record = Find(message.window);
  if (record == nullptr || !OwnedByCaller(*record)) return 0;
  return record->procedure(message.window, message.message, message.wParam, message.lParam);
}

void PostQuitMessage(int exitCode) {
  ThreadQueue& queue = *CurrentQueue();
  std::lock_guard<std::mutex> guard(queue.mutex);
  queue.quitPosted = true;
  queue.quitCode = exitCode;
  queue.changed.notify_all();
}

LResult DefaultWindowProcedure(WindowHandle window, MessageId message, WParam, LParam) {
  if (message == kWmClose) DestroyWindow(window);
  return 0;
}

namespace {

bool DialogEnded(const WindowRecord& record, LResult* result) {
  std::lock_guard<std::mutex> guard(TheRegistry().mutex);
  *result = record.dialogResult;
  return record.dialogEnded;
}

int DefaultButtonOf(const DialogResource& dialog) {
  for (const DialogControl& control : dialog.controls) {
    if (control.kind == ControlKind::kDefaultPushButton) return control.id;
  }
  return kIdOk;
}

}  // namespace

LResult RunModalDialog(WindowHandle, int dialogId, DialogProcedure procedure) {
  const DialogResource* dialog = posix::FindDialogResource(dialogId);
  if (dialog == nullptr || procedure == nullptr) return -1;
  posix::RecordDialogRun(dialogId);

  auto record = std::make_shared<WindowRecord>();
  record->className = "#32770";
  record->procedure = procedure;
  record->owner = CurrentQueue();
  record->isDialog = true;
  const WindowHandle handle = Register(record);

  procedure(handle, kWmInitDialog, 0, 0);
  for (const DialogControl& control : dialog->controls) {
    if (control.kind == ControlKind::kStaticText && control.text != nullptr && control.text[0] != '\0') {
      Platform().writeStandardError(control.text);
      Platform().writeStandardError("\n");
    }
  }
  LResult result = -1;
  for (int button : {DefaultButtonOf(*dialog), kIdCancel}) {
    if (DialogEnded(*record, &result)) break;
    procedure(handle, kWmCommand, MakeWParam(static_cast<std::uint16_t>(button), 0), 0);
  }
  if (!DialogEnded(*record, &result)) result = -1;
  DestroyWindow(handle);
  return result;
}

bool EndDialog(WindowHandle dialog, LResult result) {
  std::shared_ptr<WindowRecord> record = Find(dialog);
  if (record == nullptr || !record->isDialog) return false;
  std::lock_guard<std::mutex> guard(TheRegistry().mutex);
  record->dialogEnded = true;
  record->dialogResult = result;
  return true;
}

}  // namespace plat
