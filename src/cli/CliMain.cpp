#include "cli/CliMain.h"

#include "cli/CliLineTest.h"
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/CliRunner.h"
#include "core/platform/EventErrors.h"
#include "core/platform/TerminationSignals.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace {
// The last chance to hear of a write the system had deferred.
int CloseStandardOutput(int code) {
    if (const QString error = CloseOutput(STDOUT_FILENO); !error.isEmpty()) {
        std::fprintf(stderr, "quillmet-cli: %s\n",
                     QStringLiteral("測定結果を標準出力に書き込めませんでした（%1）")
                         .arg(error)
                         .toLocal8Bit()
                         .constData());
        return code == ExitMeasured ? ExitOutput : code;
    }
    return code;
}

int RunLineTest(const CliOptions& options) {
    CliLineTest test(options);
    test.ShowProgress = !options.quiet && ::isatty(STDERR_FILENO) == 1;
    InstallTerminationSignals([&test](int signal) { test.Interrupt(signal); });
    return CloseStandardOutput(test.Measure());
}
} // namespace

int RunQuillmetCli(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmet-cli"));
    const CliParse parsed = ParseCliArguments(CliArguments(argc, argv));
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

    // What escapes a component's handler goes to standard error, never to a message box.
    SetEventErrorSink([](const QString& message) {
        std::fprintf(stderr, "quillmet-cli: %s\n", message.toLocal8Bit().constData());
    });

    CliOptions options = parsed.options;
    // Every measurement connects with the family the settings chose, unless told otherwise.
    if (!options.family && !options.bothFamilies && !options.upload)
        options.family = CliSettingsFamily();
    if (options.line)
        return RunLineTest(options);
    if (!options.size.isEmpty()) {
        QString note;
        options.url = CliPresetUrl(options, &note);
        if (!note.isEmpty())
            std::fprintf(stderr, "quillmet-cli: %s\n", note.toLocal8Bit().constData());
    }
    if (options.uploadHttp && options.server.isEmpty()) {
        QString note;
        options.server = CliServer(options, &note).Authority();
        if (!note.isEmpty())
            std::fprintf(stderr, "quillmet-cli: %s\n", note.toLocal8Bit().constData());
    }
    CliRunner runner(options);
    // Cron mail stays clean: progress only on a terminal.
    runner.ShowProgress = !options.quiet && ::isatty(STDERR_FILENO) == 1;
    if (const int code = runner.Prepare(); code != ExitMeasured)
        return code;
    // Only now: a signal while waiting for the lock ends the program at once, which
    // leaves nothing half done.
    InstallTerminationSignals([&runner](int signal) { runner.Interrupt(signal); });
    return CloseStandardOutput(runner.Measure());
}
