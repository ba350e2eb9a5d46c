// The command line of quillmet-cli.
#pragma once

#include "core/server/MeasurementServer.h"

#include <QString>
#include <QStringList>
#include <optional>

// Exit codes, as --help and the manual page list them.
enum CliExit : int {
    ExitMeasured = 0,
    ExitUsage = 2,
    ExitRefused = 3,     // the start checks refused the URL or the server and address
    ExitNetwork = 4,     // no connection, a lost one or a time-out
    ExitLocked = 5,      // a window has qm1.dat
    ExitStopped = 6,     // an error reply, a too-big file, a refused mail, a sink's refusal
    ExitStateFile = 7,   // qm1.dat could not be read whole, or not written
    ExitOutput = 8,      // a record could not be written to standard output
    ExitSignalBase = 128 // + the signal's number
};

struct CliOptions {
    enum class Format { History, Json, Csv };

    bool upload = false;
    // An upload by HTTP to the measurement server's sink (--server, or the settings').
    bool uploadHttp = false;
    // The line test on the measurement server (--server, or the settings').
    bool line = false;
    QString url; // download
    // A preset of a measurement server instead of a URL: the size name, and the server
    // (empty: the one in the settings file).
    QString size;
    QString server;
    QString smtp; // upload: server and address
    QString mail;
    int runs = 1;
    int timeoutSeconds = 60;
    int maxTimeSeconds = 600; // one run (five rounds) at most, whatever the server does
    Format format = Format::History;
    bool appendHistory = false;
    bool quiet = false;
    // -4, -6, --family: the family every run connects with; none given: the settings'.
    // bothFamilies: each run is a pair, IPv4 then IPv6, one record each.
    std::optional<AddressFamily> family;
    bool bothFamilies = false;
    // The node_exporter textfile rewritten after every run; empty: none.
    QString prometheus;
};

struct CliParse {
    enum class Outcome { Run, Help, Version, Usage };
    Outcome outcome = Outcome::Run;
    CliOptions options;
    QString error; // for Usage: what was wrong, in one line
};

inline constexpr int kMaxRuns = 100;
inline constexpr int kMaxTimeoutSeconds = 3600;
inline constexpr int kMaxMaxTimeSeconds = 86400;

// arguments: as QCoreApplication::arguments(), the program name first.
CliParse ParseCliArguments(const QStringList& arguments);
// The command line as text: an argument that is not UTF-8 keeps its bytes, those from 0x80 up
// percent-encoded, so that a URL's path reaches the server as it was typed.
QStringList CliArguments(int argc, const char* const* argv);

// The --server server, or the settings' server (a note is set when the settings file could
// not be used).
MeasurementServer CliServer(const CliOptions& options, QString* note);

// The URL of the --size preset on the --server server, or on the settings' server (a note
// is set when the settings file could not be used).
QString CliPresetUrl(const CliOptions& options, QString* note);

// The family the settings file chose for every measurement; none when it chose none or
// could not be read (the measurements' defaults apply then).
std::optional<AddressFamily> CliSettingsFamily();

// The usage lines that follow a usage error.
QString CliUsageText();

// The text of --help, the exit codes included.
QString CliHelpText();
