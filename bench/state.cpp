// state write FILE URL: a fresh qm1.dat whose URL box holds URL.
// state history FILE: the history lines of a qm1.dat, one per line.
#include "core/state/StateFile.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

// The window as it stands before any file was read, with the URL box set.
StateSnapshot FreshState(const QString& url) {
    StateSnapshot s;
    for (LabelState* saved : {&s.Label15, &s.Label31, &s.Label32, &s.Label37, &s.Label38})
        *saved = {url, 190, false};
    s.Label33 = {QStringLiteral("保存1(&A)"), 52, false};
    s.Label34 = {QStringLiteral("保存2(&B)"), 52, false};
    s.Label35 = {QStringLiteral("保存3(&C)"), 52, false};
    s.Label39 = {QStringLiteral("保存4(&D)"), 52, false};
    s.Label3a = {QStringLiteral("保存5(&G)"), 52, false};
    s.Label41 = {QStringLiteral("最速記録"), 48, false};
    s.Label42 = {QStringLiteral("0"), 6, false};
    s.Label43 = {QStringLiteral("0"), 6, false};
    s.Label44 = {QStringLiteral("false"), 25, false};
    s.Edit7.Text = url;
    return s;
}

int Usage() {
    std::fprintf(stderr, "usage: state write FILE URL | state history FILE\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("write")) {
        const StateWriteResult written = WriteStateFile(args[2], FreshState(args[3]));
        if (!written.ok) {
            std::fprintf(stderr, "state: %s\n", qPrintable(written.reason));
            return 1;
        }
        return 0;
    }
    if (args.size() == 3 && args[1] == QLatin1String("history")) {
        StateSnapshot state;
        const StateReadResult read = ReadStateFile(args[2], state);
        if (read.status != StateReadResult::Status::Read) {
            std::fprintf(stderr, "state: cannot read %s: %s\n", qPrintable(args[2]),
                         read.failed() ? qPrintable(read.reason) : "missing");
            return 1;
        }
        for (const QString& line : state.ListBox1)
            std::printf("%s\n", line.toUtf8().constData());
        return 0;
    }
    return Usage();
}
