// delayline [--limit PACKETS] [--rate MBIT --queue-ms MS] DELAY_MS NETNS_A TUN_A NETNS_B TUN_B:
// a line with a round trip between two network namespaces. Every packet read from one TUN
// device is held DELAY_MS and written to the other, both ways, so the round trip is twice
// DELAY_MS; the rate is tbf's on the devices. Each way holds at most PACKETS (default 16384);
// more are dropped and counted.
// With --rate, each way is also a bottleneck of its own: a router's queue that sends MBIT
// Mbit/s and drops what would wait longer than MS. A tbf on the sender's own device cannot
// show a deep queue, as TCP keeps only a few packets in its host's queues; this one fills as a
// router's does.
// Prints "delayline: ready" once both devices are open, its counts on SIGTERM or SIGINT.
// The two ways run as real-time threads where allowed: at normal priority, on a machine busy
// compiling, a timer's wake-up came 10 to 40 ms late and the line carried a third as much.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "delayline: %s\n", what.c_str());
    std::exit(1);
}

[[noreturn]] void DieErrno(const std::string& what) {
    Die(what + ": " + std::strerror(errno));
}

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

struct Tun {
    int fd = -1;
    int mtu = 0;
    std::string name;
};

// Opens the TUN device NAME inside the namespace at PATH (a file under /run/netns, or a bare
// name there) and comes back to our own namespace; the descriptor keeps the device's.
Tun OpenTun(const std::string& netns, const std::string& name) {
    const std::string path = netns.find('/') == std::string::npos ? "/run/netns/" + netns : netns;
    const int home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (home < 0 || there < 0)
        DieErrno("cannot open the network namespace " + path);
    if (setns(there, CLONE_NEWNET) != 0)
        DieErrno("cannot enter " + path);
    Tun tun;
    tun.name = name;
    tun.fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (tun.fd < 0)
        DieErrno("/dev/net/tun");
    ifreq ifr{};
    if (name.size() >= sizeof ifr.ifr_name)
        Die("device name too long: " + name);
    std::memcpy(ifr.ifr_name, name.c_str(), name.size());
    // Bare IP packets, no packet-information header.
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
    if (ioctl(tun.fd, TUNSETIFF, &ifr) != 0)
        DieErrno("cannot attach to " + name + " in " + path);
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0 || ioctl(probe, SIOCGIFMTU, &ifr) != 0)
        DieErrno("cannot read the MTU of " + name);
    tun.mtu = ifr.ifr_mtu;
    close(probe);
    if (setns(home, CLONE_NEWNET) != 0)
        DieErrno("cannot come back to our own network namespace");
    close(there);
    close(home);
    return tun;
}

// One way of the line: a ring of held packets, each with the time it is due.
struct Way {
    const Tun* from = nullptr;
    const Tun* to = nullptr;
    std::int64_t delayNs = 0;
    std::size_t slot = 0;
    std::size_t limit = 0;
    int stopFd = -1;

    std::vector<unsigned char> bytes;
    std::vector<std::int64_t> due;
    std::vector<std::size_t> length;
    std::size_t head = 0;
    std::size_t count = 0;

    double nsPerByte = 0; // the bottleneck's; 0 for none
    std::int64_t queueNs = 0;
    std::int64_t lastOut = 0; // when the bottleneck sends its last packet held

    std::uint64_t shed = 0; // by the bottleneck's queue
    std::uint64_t forwarded = 0;
    std::uint64_t dropped = 0;
    std::uint64_t lost = 0;
    std::size_t peak = 0;
};

// Writes every packet that is due; the kernel takes a TUN write at once or not at all.
void WriteDue(Way& w, std::int64_t now) {
    while (w.count > 0 && w.due[w.head] <= now) {
        const ssize_t n = write(w.to->fd, &w.bytes[w.head * w.slot], w.length[w.head]);
        if (n == static_cast<ssize_t>(w.length[w.head]))
            ++w.forwarded;
        else
            ++w.lost;
        w.head = (w.head + 1) % w.limit;
        --w.count;
    }
}

// Reads what the device has, up to a batch, and stamps each packet with its due time.
void ReadWaiting(Way& w, std::vector<unsigned char>& spare) {
    for (int i = 0; i < 256; ++i) {
        const bool full = w.count == w.limit;
        const std::size_t tail = (w.head + w.count) % w.limit;
        unsigned char* into = full ? spare.data() : &w.bytes[tail * w.slot];
        const ssize_t n = read(w.from->fd, into, w.slot);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return;
            DieErrno("read from " + w.from->name);
        }
        if (full) {
            ++w.dropped;
            continue;
        }
        const std::int64_t now = NowNs();
        std::int64_t out = now;
        if (w.nsPerByte > 0) {
            out = std::max(now, w.lastOut) + std::llround(static_cast<double>(n) * w.nsPerByte);
            if (out - now > w.queueNs) {
                ++w.shed;
                continue;
            }
            w.lastOut = out;
        }
        w.length[tail] = static_cast<std::size_t>(n);
        w.due[tail] = out + w.delayNs;
        ++w.count;
        w.peak = std::max(w.peak, w.count);
    }
}

// Sleeps in ppoll until a packet arrives, the earliest held one is due, or we are stopped.
void* RunWay(void* arg) {
    Way& w = *static_cast<Way*>(arg);
    std::vector<unsigned char> spare(w.slot);
    pollfd fds[2] = {{w.from->fd, POLLIN, 0}, {w.stopFd, POLLIN, 0}};
    for (;;) {
        const std::int64_t now = NowNs();
        WriteDue(w, now);
        timespec wait{};
        timespec* timeout = nullptr;
        if (w.count > 0) {
            const std::int64_t left = std::max<std::int64_t>(0, w.due[w.head] - now);
            wait.tv_sec = left / 1'000'000'000;
            wait.tv_nsec = left % 1'000'000'000;
            timeout = &wait;
        }
        if (ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR)
            DieErrno("ppoll");
        if (fds[1].revents != 0)
            return nullptr;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            Die(w.from->name + " went away");
        if (fds[0].revents & POLLIN)
            ReadWaiting(w, spare);
    }
}

void Report(const Way& w) {
    std::fprintf(
        stderr,
        "delayline: %s -> %s: %llu packets forwarded, %llu dropped (queue full), %llu shed "
        "by the bottleneck, %llu lost on write, at most %zu held\n",
        w.from->name.c_str(), w.to->name.c_str(), static_cast<unsigned long long>(w.forwarded),
        static_cast<unsigned long long>(w.dropped), static_cast<unsigned long long>(w.shed),
        static_cast<unsigned long long>(w.lost), w.peak);
}

[[noreturn]] void Usage() {
    Die("usage: delayline [--limit PACKETS] [--rate MBIT --queue-ms MS] DELAY_MS NETNS_A TUN_A "
        "NETNS_B TUN_B");
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::size_t limit = 16384;
    if (args.size() >= 2 && args[0] == "--limit") {
        char* end = nullptr;
        const long value = std::strtol(args[1].c_str(), &end, 10);
        if (*end != '\0' || value < 1 || value > 1'000'000)
            Die("--limit takes 1 to 1000000 packets, not '" + args[1] + "'");
        limit = static_cast<std::size_t>(value);
        args.erase(args.begin(), args.begin() + 2);
    }
    double rateMbit = 0;
    double queueMs = 0;
    while (args.size() >= 2 && (args[0] == "--rate" || args[0] == "--queue-ms")) {
        char* end = nullptr;
        const double value = std::strtod(args[1].c_str(), &end);
        if (*end != '\0' || !std::isfinite(value) || value <= 0 || value > 100'000)
            Die(args[0] + " takes a number above 0, not '" + args[1] + "'");
        (args[0] == "--rate" ? rateMbit : queueMs) = value;
        args.erase(args.begin(), args.begin() + 2);
    }
    if ((rateMbit > 0) != (queueMs > 0))
        Die("--rate and --queue-ms go together");
    if (args.size() != 5)
        Usage();
    char* end = nullptr;
    const double delayMs = std::strtod(args[0].c_str(), &end);
    if (*end != '\0' || !std::isfinite(delayMs) || delayMs < 0 || delayMs > 10'000)
        Die("DELAY_MS takes 0 to 10000, not '" + args[0] + "'");

    // The workers take no signal; this thread waits for the one that ends the line.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);

    const Tun a = OpenTun(args[1], args[2]);
    const Tun b = OpenTun(args[3], args[4]);
    const int stopFd = eventfd(0, EFD_CLOEXEC);
    if (stopFd < 0)
        DieErrno("eventfd");

    Way ways[2];
    const Tun* ends[2][2] = {{&a, &b}, {&b, &a}};
    for (int i = 0; i < 2; ++i) {
        Way& w = ways[i];
        w.from = ends[i][0];
        w.to = ends[i][1];
        w.delayNs = std::llround(delayMs * 1e6);
        w.nsPerByte = rateMbit > 0 ? 8e3 / rateMbit : 0;
        w.queueNs = std::llround(queueMs * 1e6);
        // A packet is at most the larger MTU; a longer read would be cut, so keep room.
        w.slot = static_cast<std::size_t>(std::max(a.mtu, b.mtu)) + 64;
        w.limit = limit;
        w.stopFd = stopFd;
        w.bytes.resize(w.slot * limit);
        w.due.resize(limit);
        w.length.resize(limit);
    }
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i) {
        if (pthread_create(&threads[i], nullptr, RunWay, &ways[i]) != 0)
            Die("cannot start a thread");
        const sched_param realtime{.sched_priority = 10};
        if (const int error = pthread_setschedparam(threads[i], SCHED_FIFO, &realtime); error != 0)
            std::fprintf(stderr, "delayline: at normal priority (%s): the delay wavers with load\n",
                         std::strerror(error));
    }
    std::printf("delayline: ready, %g ms each way between %s and %s\n", delayMs, a.name.c_str(),
                b.name.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&ending, &signal);
    const std::uint64_t one = 1;
    if (write(stopFd, &one, sizeof one) != sizeof one)
        DieErrno("eventfd write");
    for (pthread_t& t : threads)
        pthread_join(t, nullptr);
    Report(ways[0]);
    Report(ways[1]);
    return 0;
}
