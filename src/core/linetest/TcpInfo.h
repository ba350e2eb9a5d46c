// What the kernel knows of a TCP connection: the bytes the peer acknowledged and the
// smoothed round trip. Kept apart because <linux/tcp.h> clashes with <netinet/tcp.h>.
#pragma once

#include <QtGlobal>

struct TcpInfoReading {
    qint64 bytesAcked = 0;
    double rttMs = 0;
};

// False when the socket is no TCP socket (or closed).
bool ReadTcpInfo(int fd, TcpInfoReading* reading);
