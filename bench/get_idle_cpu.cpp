// CPU time used by the process while Get waits on a server that accepts and stays silent.
#include "core/net/Nmhttp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int waitMs = argc > 1 ? std::atoi(argv[1]) : 5000;

    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    QList<QTcpSocket*> held;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            held << socket; // accepted, never answered
    });

    TNMHTTP http;
    http.TimeOut = waitMs; // the time-out ends the wait
    const std::string url = "http://127.0.0.1:" + std::to_string(silent.serverPort()) + "/x.jpg";

    QElapsedTimer clock;
    const double before = CpuSeconds();
    clock.start();
    std::string outcome = "returned";
    try {
        http.Get(url);
    } catch (const Exception& e) {
        outcome = e.Message();
    }
    const double cpu = CpuSeconds() - before;
    std::printf("Get waited %.3f s (%s); CPU used %.4f s (user+sys), %.2f %% of one core\n",
                clock.elapsed() / 1000.0, outcome.c_str(), cpu,
                100.0 * cpu * 1000.0 / clock.elapsed());
    return 0;
}
