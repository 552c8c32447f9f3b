// Load generator: round trips (p50, p99, max) and throughput of VESK and of
// the floor server, with 1 and 20 clients, phases interleaved so both see
// the same machine; prints both sets of figures and VESK/floor ratios.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "bench/request_mix.h"
#include "client/command_catalogue.h"
#include "platform/platform.h"
#include "protocol/message.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  std::vector<std::uint32_t> roundTripsNs;
  std::uint64_t requests = 0;
  double seconds = 0;
  std::uint64_t errors = 0;
};

// A request of the mix, ready to send, and its reply's length from the
// command catalogue.
struct Request {
  std::vector<std::uint8_t> bytes;
  const char* code;
  int replyLength;
};

struct Phase {
  const std::vector<Request>* requests = nullptr;
  const char* host = nullptr;
  std::uint16_t port = 0;
  plat::Event* go = nullptr;
  std::atomic<bool>* stop = nullptr;
  std::atomic<int>* ready = nullptr;
  std::vector<std::uint32_t> roundTripsNs;
  std::uint64_t errors = 0;
  std::size_t firstEntry = 0;
};

bool ReceiveExactly(plat::SocketHandle socket, std::uint8_t* buffer, int count) {
  int received = 0;
  while (received < count) {
    const int n = plat::Platform().recv(socket, buffer + received, count - received, 0);
    if (n <= 0) return false;
    received += n;
  }
  return true;
}

Request BuildRequest(const vesk::bench::MixEntry& entry) {
  Request request{std::vector<std::uint8_t>(vesk::kHeaderSize + entry.bodySize, 0), entry.code, -1};
  vesk::WriteU16(request.bytes.data(), static_cast<std::uint16_t>(request.bytes.size()));
  std::memcpy(request.bytes.data() + vesk::header::kCode, entry.code, 4);
  std::memcpy(request.bytes.data() + vesk::kHeaderSize, entry.body, entry.bodySize);
  if (const vesk::client::CommandInfo* command = vesk::client::FindCommandInfo(entry.code)) {
    request.replyLength = static_cast<int>(vesk::kHeaderSize) + command->replySize;
  }
  return request;
}

// One round trip; false when the reply is missing or not the one expected
// (so both servers are held to the same replies).
bool RoundTrip(plat::SocketHandle socket, const Request& request, std::uint8_t* reply) {
  const int size = static_cast<int>(request.bytes.size());
  if (plat::Platform().send(socket, request.bytes.data(), size) != size) return false;
  if (!ReceiveExactly(socket, reply, static_cast<int>(vesk::kHeaderSize))) return false;
  const int length = vesk::ReadU16(reply);
  if (length != request.replyLength || std::memcmp(reply + vesk::header::kMagic, vesk::kReplyMagic, 4) != 0 ||
      std::memcmp(reply + vesk::header::kCode, request.code, 4) != 0) {
    return false;
  }
  return ReceiveExactly(socket, reply + vesk::kHeaderSize, length - static_cast<int>(vesk::kHeaderSize));
}

// Connects and makes one round trip; a slot the previous phase's client
// still holds is refused, so retry for a while.
plat::SocketHandle ConnectWarm(const Phase& phase, const Request& request, std::uint8_t* reply) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const plat::SocketHandle socket = plat::Platform().connectTo(phase.host, phase.port);
    if (socket != plat::kInvalidSocket) {
      plat::Platform().setReceiveTimeout(socket, 10000);
      if (RoundTrip(socket, request, reply)) return socket;
      plat::Platform().closeSocket(socket);
    }
    plat::Platform().sleepMs(20);
  }
  return plat::kInvalidSocket;
}

void RunClient(void* raw) {
  Phase& phase = *static_cast<Phase*>(raw);
  const std::vector<Request>& requests = *phase.requests;
  std::uint8_t reply[vesk::kMessageBufferSize];
  std::size_t next = phase.firstEntry % requests.size();
  const plat::SocketHandle socket = ConnectWarm(phase, requests[next], reply);
  phase.ready->fetch_add(1);
  if (socket == plat::kInvalidSocket) {
    ++phase.errors;
    return;
  }
  phase.go->Wait(UINT32_MAX);
  while (!phase.stop->load(std::memory_order_relaxed)) {
    next = (next + 1) % requests.size();
    const Clock::time_point start = Clock::now();
    if (!RoundTrip(socket, requests[next], reply)) {
      ++phase.errors;
      break;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    phase.roundTripsNs.push_back(static_cast<std::uint32_t>(std::min<long long>(ns, UINT32_MAX)));
  }
  plat::Platform().closeSocket(socket);
}

// One timed phase: `clients` connections making round trips for `seconds`.
void RunPhase(const std::vector<Request>& requests, const std::string& host, std::uint16_t port, int clients,
              double seconds, Figures& figures) {
  plat::Event go;
  std::atomic<bool> stop{false};
  std::atomic<int> ready{0};
  std::vector<Phase> phases(static_cast<std::size_t>(clients));
  std::vector<plat::ThreadHandle> threads;
  for (std::size_t i = 0; i < phases.size(); ++i) {
    phases[i] = Phase{&requests, host.c_str(), port, &go, &stop, &ready, {}, 0, i};
    phases[i].roundTripsNs.reserve(1 << 18);
    threads.push_back(plat::Platform().startThread(RunClient, &phases[i]));
  }
  while (ready.load() < clients) plat::Platform().sleepMs(5);
  const Clock::time_point start = Clock::now();
  go.Set();
  plat::Platform().sleepMs(static_cast<std::uint32_t>(seconds * 1000));
  stop.store(true);
  for (plat::ThreadHandle thread : threads) {
    if (thread != nullptr) plat::Platform().joinThread(thread);
  }
  figures.seconds += std::chrono::duration<double>(Clock::now() - start).count();
  for (const Phase& phase : phases) {
    figures.roundTripsNs.insert(figures.roundTripsNs.end(), phase.roundTripsNs.begin(), phase.roundTripsNs.end());
    figures.requests += phase.roundTripsNs.size();
    figures.errors += phase.errors;
  }
  // Let the server see the departures before the next phase connects.
  plat::Platform().sleepMs(100);
}

struct Summary {
  double meanUs = 0;
  double p50Us = 0;
  double p99Us = 0;
  double maxUs = 0;
  double perSecond = 0;
};

Summary Summarise(Figures& figures) {
  Summary summary;
  std::vector<std::uint32_t>& ns = figures.roundTripsNs;
  if (ns.empty()) return summary;
  std::sort(ns.begin(), ns.end());
  auto at = [&ns](double q) { return ns[static_cast<std::size_t>(q * static_cast<double>(ns.size() - 1))] / 1000.0; };
  double total = 0;
  for (std::uint32_t value : ns) total += value;
  summary.meanUs = total / static_cast<double>(ns.size()) / 1000.0;
  summary.p50Us = at(0.50);
  summary.p99Us = at(0.99);
  summary.maxUs = ns.back() / 1000.0;
  summary.perSecond = figures.seconds > 0 ? static_cast<double>(figures.requests) / figures.seconds : 0;
  return summary;
}

void PrintRow(const char* name, int clients, const Summary& s, std::uint64_t errors) {
  std::printf("%-6s %7d %10.1f %10.1f %10.1f %10.1f %12.0f %7llu\n", name, clients, s.meanUs, s.p50Us, s.p99Us,
              s.maxUs, s.perSecond, static_cast<unsigned long long>(errors));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Round trips and throughput of VESK against the floor server"};
  std::string host = "127.0.0.1";
  std::uint16_t veskPort = 0;
  std::uint16_t floorPort = 0;
  double seconds = 1.0;
  int rounds = 5;
  std::vector<int> clientCounts{1, 20};
  app.add_option("--host", host, "address of both servers")->capture_default_str();
  app.add_option("--vesk-port", veskPort, "VESK's port (on the simulator)")->required();
  app.add_option("--floor-port", floorPort, "the floor server's port")->required();
  app.add_option("--seconds", seconds, "length of each timed phase")->check(CLI::Range(0.1, 600.0))->capture_default_str();
  app.add_option("--rounds", rounds, "phases per server and client count, interleaved")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  app.add_option("--clients", clientCounts, "client counts to measure")->check(CLI::Range(1, 20))->capture_default_str();
  std::vector<std::string> codes;
  app.add_option("--codes", codes, "only these codes of the request mix (FXSR EMGS EXSR WSTR DDSR FLVR)");
  CLI11_PARSE(app, argc, argv);

  std::vector<Request> requests;
  for (const vesk::bench::MixEntry& entry : vesk::bench::kRequestMix) {
    if (codes.empty() || std::find(codes.begin(), codes.end(), entry.code) != codes.end()) {
      requests.push_back(BuildRequest(entry));
    }
  }
  if (requests.empty() || (!codes.empty() && requests.size() != codes.size())) {
    std::fprintf(stderr, "vesk-bench: --codes takes codes of the request mix\n");
    return 2;
  }

  if (plat::Platform().socketStartup() != 0) return 1;
  std::printf("%-6s %7s %10s %10s %10s %10s %12s %7s\n", "server", "clients", "mean us", "p50 us", "p99 us", "max us", "requests/s",
              "errors");
  bool failed = false;
  std::vector<Summary> ratios;
  for (int clients : clientCounts) {
    Figures vesk;
    Figures floor;
    for (int round = 0; round < rounds; ++round) {
      RunPhase(requests, host, veskPort, clients, seconds, vesk);
      RunPhase(requests, host, floorPort, clients, seconds, floor);
    }
    const Summary v = Summarise(vesk);
    const Summary f = Summarise(floor);
    PrintRow("vesk", clients, v, vesk.errors);
    PrintRow("floor", clients, f, floor.errors);
    failed = failed || vesk.errors != 0 || floor.errors != 0 || vesk.requests == 0 || floor.requests == 0;
    ratios.push_back(Summary{0, f.p50Us > 0 ? v.p50Us / f.p50Us : 0, f.p99Us > 0 ? v.p99Us / f.p99Us : 0,
                             f.maxUs > 0 ? v.maxUs / f.maxUs : 0, f.perSecond > 0 ? v.perSecond / f.perSecond : 0});
  }
  std::printf("\nVESK/floor %7s %10s %10s %12s\n", "clients", "p50", "p99", "throughput");
  for (std::size_t i = 0; i < ratios.size(); ++i) {
    std::printf("%-10s %7d %9.2fx %9.2fx %11.2fx\n", "", clientCounts[i], ratios[i].p50Us, ratios[i].p99Us,
                ratios[i].perSecond);
  }
  plat::Platform().socketCleanup();
  return failed ? 1 : 0;
}
