// The functions behind the native platform table: each platform's files
// (posix/ or win/) define them, platform/native_table.cpp puts them in the
// table. See platform/platform.h for what each one does.
#pragma once

#include "platform/platform.h"

namespace plat::native {


int SocketStartup();
void SocketCleanup();
int LastSocketError();
SocketHandle OpenStreamSocket();
int BindAnyAddress(SocketHandle socket, std::uint16_t port);
int Listen(SocketHandle socket, int backlog);
SocketHandle Accept(SocketHandle socket, std::uint32_t* peerIPv4);
int Recv(SocketHandle socket, void* buffer, int count, int flags);
int Send(SocketHandle socket, const void* data, int count);
int CloseSocket(SocketHandle socket);
int ShutdownSocket(SocketHandle socket);
int SetSendTimeout(SocketHandle socket, std::uint32_t milliseconds);
int LocalPort(SocketHandle socket);
int SetReceiveTimeout(SocketHandle socket, std::uint32_t milliseconds);
SocketHandle ConnectTo(const char* host, std::uint16_t port);
int HostName(char* buffer, int size);
int ResolveIPv4(const char* name, char* dotted, int size);
int SetKeepAlive(SocketHandle socket, std::uint32_t idleMs);
int CanSendNow(SocketHandle socket);
int PeerHasLeft(SocketHandle socket);

ThreadHandle StartThread(ThreadMain main, void* argument);
void JoinThread(ThreadHandle thread);
void DetachThread(ThreadHandle thread);

std::uint32_t TickCount();
void SleepMs(std::uint32_t milliseconds);

void WriteStandardError(const char* text);
void WriteStandardOutput(const char* text);
void DebugOutput(const char* text);

}  // namespace plat::native
