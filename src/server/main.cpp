// quillmet-sink: the parts of quillmet-server that nginx cannot do itself.
//   quillmet-sink serve SOCKET        counts uploads on a unix socket until SIGTERM
//   quillmet-sink describe NAME WWW   prints the descriptor of the folder WWW
#include "core/platform/TerminationSignals.h"
#include "server/ServerDescriptor.h"
#include "server/UploadSink.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("describe")) {
        QTextStream(stdout) << ServerDescriptor(args.at(2), QStringLiteral(QUILLMET_VERSION),
                                                args.at(3))
                            << Qt::endl;
        return 0;
    }
    if (args.size() != 3 || args.at(1) != QLatin1String("serve")) {
        err << "usage: quillmet-sink serve SOCKET | quillmet-sink describe NAME WWW" << Qt::endl;
        return 2;
    }
    const QString path = args.at(2);
    UploadSink sink;
    if (!sink.listen(path)) {
        err << "quillmet-sink: " << path << ": " << sink.errorString() << Qt::endl;
        return 1;
    }
    InstallTerminationSignals([](int) { QCoreApplication::quit(); });
    const int code = app.exec();
    QLocalServer::removeServer(path);
    return code;
}
