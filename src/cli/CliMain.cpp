#include "cli/CliMain.h"

#include "cli/CliOptions.h"

#include <QCoreApplication>
#include <cstdio>

int RunQuillmetCli(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const CliParse parsed = ParseCliArguments(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case CliParse::Outcome::Help:
        std::fputs(CliHelpText().toLocal8Bit().constData(), stdout);
        return ExitMeasured;
    case CliParse::Outcome::Version:
        std::printf("quillmet-cli %s\n", QUILLMET_VERSION);
        return ExitMeasured;
    case CliParse::Outcome::Usage:
        std::fprintf(stderr, "quillmet-cli: %s\n%s", parsed.error.toLocal8Bit().constData(),
                     CliUsageText().toLocal8Bit().constData());
        return ExitUsage;
    case CliParse::Outcome::Run:
        break;
    }
    return ExitMeasured;
}
