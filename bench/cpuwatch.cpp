// cpuwatch PID PERIOD_MS MAX_S: samples the process's CPU time until it ends (or MAX_S pass).
// One line per sample: wall clock (s), user and system time (clock ticks, /proc/PID/stat) and
// time on CPU (ns, /proc/PID/task/*/schedstat), of all threads (living ones for the latter).
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

double NowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// utime and stime: fields 14 and 15, counted after the command name's closing parenthesis.
bool ReadStat(const std::string& pid, long long& utime, long long& stime) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14)
            utime = std::atoll(field.c_str());
        if (n == 15)
            stime = std::atoll(field.c_str());
    }
    return static_cast<bool>(fields);
}

long long ReadSchedNs(const std::string& pid) {
    const std::string tasks = "/proc/" + pid + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    long long sum = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
        long long ns = 0;
        if (in >> ns)
            sum += ns;
    }
    closedir(dir);
    return sum;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: cpuwatch PID PERIOD_MS MAX_S\n");
        return 2;
    }
    const std::string pid = argv[1];
    const long period = std::atol(argv[2]);
    const double limit = std::atof(argv[3]);
    if (period < 1 || period > 10000 || limit <= 0) {
        std::fprintf(stderr, "cpuwatch: bad period or limit\n");
        return 2;
    }
    const double start = NowSeconds();
    std::printf("# wall_s utime_ticks stime_ticks sched_ns (ticks of %ld per s)\n",
                sysconf(_SC_CLK_TCK));
    const timespec pause{period / 1000, (period % 1000) * 1000000L};
    while (NowSeconds() - start < limit) {
        long long utime = 0;
        long long stime = 0;
        const double now = NowSeconds();
        if (!ReadStat(pid, utime, stime))
            break;
        const long long ns = ReadSchedNs(pid);
        std::printf("%.6f %lld %lld %lld\n", now, utime, stime, ns);
        std::fflush(stdout);
        nanosleep(&pause, nullptr);
    }
    return 0;
}
