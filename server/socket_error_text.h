#pragma once

namespace vesk {

// The Japanese text (code page 932) for a Windows Sockets error number, as
// returned by WSAGetLastError or WSAStartup. Unlisted codes are formatted as
// "未知のWSAエラー(<code>)" with the code as a signed decimal number.
const char* SocketErrorText(unsigned int code);

}  // namespace vesk
