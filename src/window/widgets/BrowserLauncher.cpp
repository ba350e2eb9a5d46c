#include "window/widgets/BrowserLauncher.h"

#include "core/net/ErrorExplanation.h"
#include "window/widgets/MessageBox.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
int g_exitWaitMs = 2000;

QByteArray openerProgram() {
    const QByteArray custom = qgetenv("QM_BROWSER_OPENER");
    return custom.isEmpty() ? QByteArrayLiteral("xdg-open") : custom;
}

QString quoted(const QByteArray& program) {
    return QStringLiteral("「") + QString::fromLocal8Bit(program) + QStringLiteral("」");
}

QString startFailure(const QByteArray& program, int error) {
    const QString name = QStringLiteral("ブラウザを開くプログラム") + quoted(program);
    switch (error) {
    case ENOENT:
        return name + QStringLiteral("が見つかりません。");
    case EACCES:
    case EPERM:
        return name + QStringLiteral("を実行する権限がありません。");
    default:
        return name + QStringLiteral("を起動できません（%1）。")
                          .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

// Watches one started opener through its pidfd and reaps it when it ends, also after
// nobody waits for it any more (it then deletes itself).
class OpenerWatch final : public QObject {
public:
    OpenerWatch(pid_t pid, int pidfd)
        : QObject(QCoreApplication::instance())
        , m_pid(pid)
        , m_pidfd(pidfd)
        , m_notifier(pidfd, QSocketNotifier::Read) {
        connect(&m_notifier, &QSocketNotifier::activated, this, &OpenerWatch::reap);
    }
    ~OpenerWatch() override {
        m_notifier.setEnabled(false);
        ::close(m_pidfd);
    }
    OpenerWatch(const OpenerWatch&) = delete;
    OpenerWatch& operator=(const OpenerWatch&) = delete;

    bool Exited() const { return m_exited; }
    int Status() const { return m_status; }
    void Abandon() { m_abandoned = true; }

    std::function<void()> OnExit;

private:
    void reap() {
        int status = 0;
        pid_t r = 0;
        do {
            r = ::waitpid(m_pid, &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == 0)
            return; // not ended after all; the notifier stays armed
        m_notifier.setEnabled(false);
        m_exited = true;
        // ECHILD: someone else reaped it; its start worked, so take it as accepted.
        m_status = r > 0 ? status : 0;
        if (m_abandoned)
            deleteLater();
        else if (OnExit)
            OnExit();
    }

    pid_t m_pid;
    int m_pidfd;
    QSocketNotifier m_notifier;
    bool m_exited = false;
    bool m_abandoned = false;
    int m_status = 0;
};

// Starts the opener in a session of its own, so that it and the browser it starts outlive
// us and ignore signals meant for our process group; it inherits none of our descriptors.
pid_t spawnOpener(const QByteArray& program, const QByteArray& url) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attributes, &noneBlocked);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    QByteArray programArg = program;
    QByteArray urlArg = url;
    char* argv[] = {programArg.data(), urlArg.data(), nullptr};
    pid_t pid = 0;
    const int rc =
        ::posix_spawnp(&pid, programArg.constData(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw EBrowserError(startFailure(program, rc).toStdString());
    return pid;
}
} // namespace

int OpenerExitWaitMs() {
    return g_exitWaitMs;
}

void SetOpenerExitWaitMs(int ms) {
    g_exitWaitMs = ms < 0 ? 0 : ms;
}

void HandUrlToBrowser(const QString& url) {
    // A leading '-' would be read as an option by the opener.
    if (url.isEmpty() || url.startsWith(QLatin1Char('-')) || url.contains(QChar(u'\0')))
        throw EBrowserError(
            (QStringLiteral("ブラウザに渡すURLが正しくありません：") + url).toStdString());

    const QByteArray program = openerProgram();
    const pid_t pid = spawnOpener(program, url.toUtf8());
    // Through syscall(): Debian 12's <sys/pidfd.h> lacks C linkage for C++.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        return; // no way to watch it without blocking; it did start

    auto* watch = new OpenerWatch(pid, pidfd);
    {
        QEventLoop loop;
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        watch->OnExit = [&loop] { loop.quit(); };
        bound.start(g_exitWaitMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        watch->OnExit = nullptr;
    }
    if (!watch->Exited()) {
        // Still running: it is showing the page itself (or waiting for the browser).
        watch->Abandon();
        return;
    }
    const int status = watch->Status();
    delete watch;

    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return;
    QString reason;
    if (WIFEXITED(status))
        reason = quoted(program) + QStringLiteral("の終了コード %1").arg(WEXITSTATUS(status));
    else
        reason = quoted(program) + QStringLiteral("がシグナル %1 で終了").arg(WTERMSIG(status));
    throw EBrowserError(
        (QStringLiteral("ブラウザでページを開けませんでした（") + reason + QStringLiteral("）。"))
            .toStdString());
}

void OpenUrlInBrowser(const QString& url) {
    try {
        HandUrlToBrowser(url);
    } catch (const Exception& e) {
        ShowMessageBox(QString::fromUtf8(e.ClassName()) + QLatin1Char(' ') +
                           QString::fromUtf8(e.Message()),
                       MsgButtons::Ok, MsgIcon::Error, ExplainBrowserFailure(url));
    }
}
