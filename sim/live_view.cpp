// The live view over cpp-httplib: the page, the current frame as JPEG (BMP
// in builds without libjpeg) and the state as JSON. Only GET is served;
// nothing here writes to the instrument.
#include "sim/live_view.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "sim/image_files.h"
#include "sim/screen_state.h"
#include "sim/specimen_image.h"

namespace vesk::sim {

extern const char kLiveViewPage[];  // sim/live_view.html, embedded by the build

namespace {

// Frames are rendered on demand, at most once per frame time whoever asks,
// and never faster than this: a fast scan at a small time scale would
// otherwise keep a core busy rendering frames nobody can see.
constexpr std::int64_t kFastestFrameMs = 500;
// A few workers are plenty for a page or two; slow clients are cut off.
constexpr std::size_t kWorkers = 4;
constexpr time_t kClientTimeoutSeconds = 5;
constexpr std::size_t kLargestRequestBody = 1024;

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
    json.Text("path", s.lastCapture->requestedPath).Text("file", s.lastCapture->file.generic_string());
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
    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
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
  std::unique_ptr<httplib::Server> server_;
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
