// The live view over cpp-httplib: the page, the current frame as JPEG (BMP
// in builds without libjpeg) and the state as JSON. Only GET is served;
// nothing here writes to the instrument.
#include "sim/live_view.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/platform.h"
#include "sim/image_files.h"
#include "sim/image_paths.h"
#include "sim/screen_state.h"
#include "sim/specimen_image.h"

namespace vesk::sim {

extern const char kLiveViewPage[];  // sim/live_view.html, embedded by the build

namespace {

// Frames are rendered on demand, at most once per frame time whoever asks,
// and never faster than this: a fast scan at a small time scale would
// otherwise keep a core busy rendering frames nobody can see.
constexpr std::int64_t kFastestFrameMs = 500;
// Enough workers that a few stalled clients leave most of them free; each
// serves one request per connection, so none waits on an idle keep-alive.
constexpr std::size_t kWorkers = 16;
constexpr time_t kClientTimeoutSeconds = 5;
constexpr std::size_t kLargestRequestBody = 1024;
// A browser's request arrives in one piece and its answer leaves in
// milliseconds; a client that trickles its request or stops reading is cut
// off after these, however steadily it trickles.
constexpr std::uint32_t kRequestDeadlineMs = 1000;
constexpr std::uint32_t kAnswerDeadlineMs = 5000;
// Connections served or waiting for a worker, each holding a descriptor;
// beyond this a connection is answered 503 and closed at once. Far below
// any descriptor limit, so the view can never take the descriptors that
// the command server's clients need.
constexpr std::size_t kMostConnections = 64;
constexpr char kBusyAnswer[] = "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t FrameIntervalMs(const ScreenState& state) { return std::max(kFastestFrameMs, state.frameMs); }

struct Frame {
  std::uint32_t number = 0;
  std::int64_t renderedAtMs = 0;
  std::shared_ptr<const std::string> bytes;
  const char* contentType = "image/jpeg";
};

// The frame on the screen, shared by every client.
class FrameSource {
 public:
  Frame Current() {
    std::lock_guard<std::mutex> guard(mutex_);
    const ScreenState state = ReadScreen().state;
    const std::int64_t now = SteadyMs();
    if (frame_.bytes && now - frame_.renderedAtMs < FrameIntervalMs(state)) return frame_;
    Scene scene = state.scene;
    // The view's own frame count picks the noise; the instrument's, which
    // picks that of captures, is left alone.
    if (!state.frozen) scene.frame = frame_.number + 1;
    const GreyImage image = WithDataBar(RenderScene(scene), scene);
    Frame next;
    next.number = frame_.number + 1;
    next.renderedAtMs = now;
    if (std::optional<std::vector<std::uint8_t>> jpeg = EncodeJpeg(image)) {
      next.bytes = std::make_shared<const std::string>(jpeg->begin(), jpeg->end());
    } else {
      const std::vector<std::uint8_t> bmp = EncodeBmp(image);
      next.bytes = std::make_shared<const std::string>(bmp.begin(), bmp.end());
      next.contentType = "image/bmp";
    }
    frame_ = next;
    return frame_;
  }

  std::uint32_t LastNumber() {
    std::lock_guard<std::mutex> guard(mutex_);
    return frame_.number;
  }

 private:
  std::mutex mutex_;
  Frame frame_;
};

// Just enough JSON for flat records of numbers and short strings.
class Json {
 public:
  Json& Open(std::string_view name, char bracket) {
    Name(name);
    text_ += bracket;
    first_ = true;
    return *this;
  }
  Json& Close(char bracket) {
    text_ += bracket;
    first_ = false;
    return *this;
  }
  Json& Field(std::string_view name, std::int64_t value) {
    Name(name);
    Number(value);
    return *this;
  }
  Json& Field(std::string_view name, double value, int decimals) {
    Name(name);
    Number(value, decimals);
    return *this;
  }
  Json& Flag(std::string_view name, bool value) {
    Name(name);
    text_ += value ? "true" : "false";
    return *this;
  }
  Json& Text(std::string_view name, std::string_view value) {
    Name(name);
    text_ += '"';
    for (const char c : value) {
      if (c == '"' || c == '\\') {
        text_ += '\\';
        text_ += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        constexpr char kHex[] = "0123456789abcdef";
        text_ += "\\u00";
        text_ += kHex[(c >> 4) & 0xF];
        text_ += kHex[c & 0xF];
      } else {
        text_ += c;
      }
    }
    text_ += '"';
    return *this;
  }
  template <typename Values>
  Json& Numbers(std::string_view name, const Values& values, int decimals = -1) {
    Open(name, '[');
    for (const auto value : values) {
      Comma();
      if (decimals < 0) {
        Number(static_cast<std::int64_t>(value));
      } else {
        Number(static_cast<double>(value), decimals);
      }
    }
    return Close(']');
  }
  // An element of an array.
  Json& Element() {
    Comma();
    text_ += '{';
    first_ = true;
    return *this;
  }
  std::string& text() { return text_; }

 private:
  void Comma() {
    if (!first_) text_ += ',';
    first_ = false;
  }
  void Name(std::string_view name) {
    Comma();
    if (name.empty()) return;
    text_ += '"';
    text_ += name;
    text_ += "\":";
  }
  void Number(std::int64_t value) { text_ += std::to_string(value); }
  void Number(double value, int decimals) {
    if (!std::isfinite(value)) {
      text_ += "null";
      return;
    }
    char digits[64];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals).ptr;
    text_.append(digits, end);
  }

  std::string text_;
  bool first_ = true;
};

void Requests(Json& json, std::string_view name, const std::vector<RequestRecord>& requests) {
  json.Open(name, '[');
  for (const RequestRecord& request : requests) {
    json.Element().Field("timeMs", request.atMs).Text("op", SemOpName(request.op));
    json.Text("arguments", request.arguments.data()).Field("result", request.result).Flag("forced", request.forced);
    json.Close('}');
  }
  json.Close(']');
}

std::string StateJson(const ScreenSnapshot& snapshot, std::uint32_t frameNumber) {
  const ScreenState& s = snapshot.state;
  Json json;
  json.Open("", '{');
  json.Field("timeMs", s.atMs).Field("instrumentType", s.instrumentType).Field("timeScale", s.timeScale, 3);
  json.Field("seed", static_cast<std::int64_t>(s.seed));
  json.Flag("highVoltage", s.highVoltage).Field("volts", s.volts).Flag("blanked", s.blanked);
  json.Field("magnification", s.magnification).Field("workingDistanceMm", s.workingDistanceTenths / 10.0, 1);
  json.Field("objectiveCoarse", s.objectiveCoarse).Field("objectiveFine", s.objectiveFine);
  json.Field("condenser", s.condenser).Numbers("stigmator", s.stigmator).Numbers("gun", s.gun);
  json.Numbers("fineShift", s.fineShift).Field("rasterRotationDegrees", s.rasterRotationTenths / 10.0, 1);
  json.Field("contrast", s.contrast).Field("brightness", s.brightness).Field("pcdMode", s.pcdMode);
  json.Numbers("stagePosition", s.stagePosition, 3).Numbers("stageTarget", s.stageTarget, 3);
  json.Flag("stageMoving", s.stageMoving);
  json.Field("vacuumMode", s.vacuumMode).Field("vacuumStatus", s.vacuumStatus);
  json.Field("arrivalPressurePa", s.arrivalPressurePa);
  json.Field("autoRun", s.autoRun).Field("autoRunLeftMs", s.autoRunLeftMs);
  json.Flag("capturePending", s.capturePending).Field("captureVariant", s.captureVariant);
  json.Text("capturePath", s.capturePath).Field("captureLeftMs", s.captureLeftMs);
  if (s.lastCapture) {
    json.Open("lastCapture", '{').Field("number", s.lastCapture->number).Flag("written", s.lastCapture->written);
    json.Text("path", s.lastCapture->requestedPath).Text("file", GenericUtf8Of(s.lastCapture->file));
    json.Close('}');
  }
  json.Field("scanSpeed", s.scanSpeed).Flag("frozen", s.frozen).Field("frameMs", FrameIntervalMs(s));
  json.Field("frameNumber", frameNumber);
  json.Field("requestCount", static_cast<std::int64_t>(snapshot.requestCount));
  Requests(json, "requests", snapshot.requests);
  Requests(json, "changes", snapshot.changes);
  json.Close('}');
  return std::move(json.text());
}

// One connection's bytes, each direction bounded by a deadline for the
// whole of it rather than for each read or write.
class DeadlineStream final : public httplib::Stream {
 public:
  explicit DeadlineStream(socket_t socket) : socket_(socket), requestStart_(plat::Platform().tickCount()) {}

  bool is_readable() const override { return used_ < filled_ || Left(requestStart_, kRequestDeadlineMs) > 0; }
  bool is_writable() const override { return !answering_ || Left(answerStart_, kAnswerDeadlineMs) > 0; }

  ssize_t read(char* into, std::size_t size) override {
    if (used_ == filled_) {
      const std::uint32_t left = Left(requestStart_, kRequestDeadlineMs);
      if (left == 0) return -1;
      plat::Platform().setReceiveTimeout(socket_, left);
      const int received = plat::Platform().recv(socket_, buffer_, static_cast<int>(sizeof buffer_), 0);
      if (received <= 0) return -1;
      used_ = 0;
      filled_ = static_cast<std::size_t>(received);
    }
    const std::size_t count = std::min(size, filled_ - used_);
    std::memcpy(into, buffer_ + used_, count);
    used_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* data, std::size_t size) override {
    if (!answering_) {
      answering_ = true;
      answerStart_ = plat::Platform().tickCount();
    }
    const std::uint32_t left = Left(answerStart_, kAnswerDeadlineMs);
    if (left == 0) return -1;
    plat::Platform().setSendTimeout(socket_, left);
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1u << 20));
    const int sent = plat::Platform().send(socket_, data, chunk);
    return sent > 0 ? sent : -1;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  socket_t socket() const override { return socket_; }

 private:
  static std::uint32_t Left(std::uint32_t start, std::uint32_t deadlineMs) {
    const std::uint32_t elapsed = plat::Platform().tickCount() - start;
    return elapsed < deadlineMs ? deadlineMs - elapsed : 0;
  }

  socket_t socket_;
  std::uint32_t requestStart_;
  std::uint32_t answerStart_ = 0;
  bool answering_ = false;
  char buffer_[4096];
  std::size_t used_ = 0;
  std::size_t filled_ = 0;
};

// Set on the listener's thread while it turns a connection away.
thread_local bool tTurningAway = false;

// The workers, and a bound on the connections they hold: one beyond it is
// handed straight back to the server, on the listener's thread, to be
// turned away.
class BoundedWorkers final : public httplib::TaskQueue {
 public:
  BoundedWorkers() : pool_(kWorkers) {}

  void enqueue(std::function<void()> serve) override {
    if (held_.fetch_add(1) >= kMostConnections) {
      held_.fetch_sub(1);
      tTurningAway = true;
      serve();
      tTurningAway = false;
      return;
    }
    pool_.enqueue([this, serve = std::move(serve)] {
      serve();
      held_.fetch_sub(1);
    });
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_;
  std::atomic<std::size_t> held_{0};
};

// The library's server with each connection served once, under deadlines,
// and turned away when the workers hold too many.
class BoundedServer final : public httplib::Server {
 public:
  BoundedServer() {
    new_task_queue = [] { return new BoundedWorkers; };
  }

 private:
  bool process_and_close_socket(socket_t socket) override {
    bool served = false;
    if (tTurningAway) {
      plat::Platform().send(socket, kBusyAnswer, static_cast<int>(sizeof kBusyAnswer - 1));
    } else {
      DeadlineStream stream(socket);
      bool closed = false;
      served = process_request(stream, true, closed, [](httplib::Request&) {});
    }
    plat::Platform().shutdownSocket(socket);
    plat::Platform().closeSocket(socket);
    return served;
  }
};

void NoCaching(httplib::Response& response) {
  response.set_header("Cache-Control", "no-store");
  response.set_header("X-Content-Type-Options", "nosniff");
}

class LiveView {
 public:
  ~LiveView() { Stop(); }

  bool Start(const LiveViewOptions& options, std::string* error) {
    Stop();
    std::lock_guard<std::mutex> guard(mutex_);
    auto server = std::make_unique<BoundedServer>();
    server->set_read_timeout(kClientTimeoutSeconds, 0);
    server->set_write_timeout(kClientTimeoutSeconds, 0);
    server->set_keep_alive_timeout(kClientTimeoutSeconds);
    server->set_payload_max_length(kLargestRequestBody);
    Route(*server);
    const int port = options.port == 0 ? server->bind_to_any_port(options.address)
                                       : (server->bind_to_port(options.address, options.port) ? options.port : -1);
    if (port <= 0) {
      if (error != nullptr) {
        *error = "cannot listen on " + options.address + " port " + std::to_string(options.port);
      }
      return false;
    }
    httplib::Server* running = server.get();
    listener_ = std::thread([running] { running->listen_after_bind(); });
    // A stop before the listener runs would be missed; wait for it (briefly).
    for (int i = 0; i < 1000 && !running->is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_ = std::move(server);
    port_ = static_cast<std::uint16_t>(port);
    return true;
  }

  void Stop() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!server_) return;
    server_->stop();
    listener_.join();
    server_.reset();
    port_ = 0;
  }

  std::uint16_t Port() {
    std::lock_guard<std::mutex> guard(mutex_);
    return port_;
  }

 private:
  void Route(httplib::Server& server) {
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
      NoCaching(response);
      response.set_content(kLiveViewPage, "text/html; charset=utf-8");
    });
    server.Get("/frame", [this](const httplib::Request&, httplib::Response& response) {
      const Frame frame = frames_.Current();
      NoCaching(response);
      response.set_header("X-Frame-Number", std::to_string(frame.number));
      response.set_content(*frame.bytes, frame.contentType);
    });
    server.Get("/state", [this](const httplib::Request&, httplib::Response& response) {
      NoCaching(response);
      response.set_content(StateJson(ReadScreen(), frames_.LastNumber()), "application/json");
    });
  }

  std::mutex mutex_;
  std::unique_ptr<BoundedServer> server_;
  std::thread listener_;
  std::uint16_t port_ = 0;
  FrameSource frames_;
};

LiveView& TheLiveView() {
  static LiveView view;
  return view;
}

}  // namespace

bool StartLiveView(const LiveViewOptions& options, std::string* error) {
  // Keeping requests first also makes the simulator outlive the view, whose
  // threads read it until the view is destroyed.
  KeepRequests(true);
  return TheLiveView().Start(options, error);
}

std::uint16_t LiveViewPort() { return TheLiveView().Port(); }

void StopLiveView() {
  TheLiveView().Stop();
  KeepRequests(false);
}

}  // namespace vesk::sim
