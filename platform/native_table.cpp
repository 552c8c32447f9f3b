// The native platform table, the same on every platform: its functions come
// from platform/posix/ or platform/win/, whichever the build compiles.
#include "platform/native_api.h"

namespace plat {

const PlatformApi& NativePlatform() {
  static const PlatformApi api = {
      native::SocketStartup,  native::SocketCleanup,     native::LastSocketError, native::OpenStreamSocket,
      native::BindAnyAddress, native::Listen,            native::Accept,          native::Recv,
      native::Send,           native::CloseSocket,       native::ShutdownSocket,  native::SetSendTimeout,
      native::LocalPort,      native::SetReceiveTimeout, native::ConnectTo,       native::HostName,
      native::ResolveIPv4,    native::SetKeepAlive,      native::CanSendNow,      native::PeerHasLeft,
      native::StartThread,
      native::JoinThread,     native::DetachThread,
      native::TickCount,      native::SleepMs,           native::WriteStandardError, native::WriteStandardOutput,
      native::DebugOutput,
  };
  return api;
}

}  // namespace plat
