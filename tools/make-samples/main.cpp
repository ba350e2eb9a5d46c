// make-samples DIR: writes the folder that the local sample host serves.
#include "SampleSite.h"

#include <QCoreApplication>
#include <QTextStream>
#include <exception>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 2 || args.at(1).startsWith(QLatin1Char('-'))) {
        err << "usage: make-samples DIR" << Qt::endl;
        return 2;
    }
    try {
        WriteSampleSite(args.at(1), true);
    } catch (const std::exception& e) {
        err << "make-samples: " << e.what() << Qt::endl;
        return 1;
    }
    return 0;
}
