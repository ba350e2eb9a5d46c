// fetch [--count-only] URL [COUNT [PAUSE_MS [TOUCH_BYTES]]]: Get the URL with the program's HTTP
// client and time each reply as a download round does, from the connect notification to the success
// notification; the event loop idles PAUSE_MS between two Gets (a run pauses 2,500 ms). With
// TOUCH_BYTES the body's memory is grown to that size and written once before the first Get,
// so that not even the first Get meets fresh pages. Each line also gives the
// minor page faults the process took during the Get (memory touched for the first time).
// --count-only counts the body and keeps none of it, as a download run does.
#include "core/net/Nmhttp.h"
#include "core/platform/Tick.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const bool countOnly = argc >= 2 && std::string(argv[1]) == "--count-only";
    if (countOnly) {
        --argc;
        ++argv;
    }
    if (argc < 2 || argc > 5) {
        std::fprintf(stderr, "usage: fetch [--count-only] URL [COUNT [PAUSE_MS [TOUCH_BYTES]]]\n");
        return 2;
    }
    const std::string url = argv[1];
    const int count = argc >= 3 ? std::atoi(argv[2]) : 1;
    const int pauseMs = argc >= 4 ? std::atoi(argv[3]) : 0;
    const long touchBytes = argc == 5 ? std::atol(argv[4]) : 0;
    if (count < 1 || count > 1000 || pauseMs < 0 || pauseMs > 60000 || touchBytes < 0 ||
        touchBytes > 64L * 1024 * 1024) {
        std::fprintf(
            stderr,
            "fetch: COUNT must be 1 to 1000, PAUSE_MS 0 to 60000, TOUCH_BYTES 0 to 64 MiB\n");
        return 2;
    }

    // Configured as the main window configures its client.
    TNMHTTP http;
    http.InputFileMode = false;
    http.OutputFileMode = false;
    http.Body = "quillmet.jpg";
    http.CountOnlyBody = countOnly;
    std::int64_t requestMicros = 0;
    std::int64_t startMicros = 0;
    std::int64_t endMicros = 0;
    bool succeeded = false;
    http.OnConnect = [&](QObject*) { startMicros = TickMicros(); };
    http.OnSuccess = [&](CmdType) {
        endMicros = TickMicros();
        succeeded = true;
    };

    if (touchBytes > 0) {
        // resize writes every byte; clear keeps the storage for the Gets.
        http.Body.resize(static_cast<std::size_t>(touchBytes));
        http.Body.clear();
    }
    std::printf("# bytes transfer_us speed_Bps connect_us received minor_faults\n");
    for (int i = 0; i < count; ++i) {
        if (i > 0 && pauseMs > 0) {
            QEventLoop pause;
            QTimer::singleShot(pauseMs, &pause, &QEventLoop::quit);
            pause.exec();
        }
        succeeded = false;
        requestMicros = TickMicros();
        const long faultsBefore = MinorFaults();
        try {
            http.Get(url);
        } catch (const Exception& e) {
            std::fprintf(stderr, "fetch: %s\n", e.Message().c_str());
            return 1;
        }
        if (!succeeded) {
            std::fprintf(stderr, "fetch: reply %d was not a success\n", http.ReplyCode);
            return 1;
        }
        const long faults = MinorFaults() - faultsBefore;
        const std::int64_t micros = endMicros - startMicros;
        const long double speed =
            micros > 0 ? static_cast<long double>(http.ContentLength) / micros * 1000000.0L : 0;
        std::printf(
            "%d %lld %.1Lf %lld %d %ld\n", http.ContentLength, static_cast<long long>(micros),
            speed, static_cast<long long>(startMicros - requestMicros), http.ReceivedBytes, faults);
    }
    return 0;
}
