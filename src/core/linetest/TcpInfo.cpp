#include "core/linetest/TcpInfo.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

bool ReadTcpInfo(int fd, TcpInfoReading* reading) {
    if (fd < 0)
        return false;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return false;
    reading->bytesAcked = static_cast<qint64>(info.tcpi_bytes_acked);
    reading->rttMs = static_cast<double>(info.tcpi_rtt) / 1000.0;
    return true;
}
