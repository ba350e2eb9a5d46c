// What the socket base and the asynchronous client socket share: the errno to Winsock
// error numbering, the first IPv4 address of a lookup, and a case-blind compare.
#pragma once

#include <QtGlobal>
#include <string>

class QHostInfo;

// An errno with no Winsock counterpart is numbered from here, so it stays visible.
inline constexpr int kUnknownErrnoBase = 20000;

// The socket error number (10035, 10061, ...) that stands for a POSIX errno: 0 for 0,
// kUnknownErrnoBase + errno for one with no socket meaning. EPIPE (a send after the peer's
// reset) is 10054, ESHUTDOWN 10058.
int WinsockErrorFromErrno(int error);

// The errno that a socket error number stands for (the first one when several share it;
// the errno itself for a number from kUnknownErrnoBase); 0 when none does.
int ErrnoFromWinsockError(int code);

// The first IPv4 address of a lookup's answer in host byte order; 0 when there is none.
quint32 FirstIPv4(const QHostInfo& info);

// Equal texts when ASCII letters are compared without regard to case.
bool SameText(const std::string& a, const std::string& b);
