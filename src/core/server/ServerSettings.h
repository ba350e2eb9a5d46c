// The chosen measurement server, kept in the user's settings file beside (never in) qm1.dat:
// qm1.dat's layout is fixed and other readers rely on it.
#pragma once

#include "core/server/MeasurementServer.h"

#include <QString>

// $XDG_CONFIG_HOME/quillmet/quillmet.conf (~/.config/quillmet/quillmet.conf by default).
QString ServerSettingsPath();

// Larger than this is not a settings file this program wrote.
inline constexpr qint64 kMaxSettingsBytes = 64 * 1024;

struct ServerSettingsRead {
    // Why the default server is used although a settings file is there.
    enum class Fault { None, Unreadable, Oversized, Garbled };
    MeasurementServer server = MeasurementServer::Default();
    Fault fault = Fault::None;
};

// The server of the settings file; the default server when there is none (no fault) or it
// cannot be used (a fault to tell once).
ServerSettingsRead ReadServerSettings(const QString& path = ServerSettingsPath());
// Stores host, port, the file list and the family when one is chosen; false when the file could not
// be written.
bool WriteServerSettings(const MeasurementServer& server,
                         const QString& path = ServerSettingsPath());

// The one-line note for a fault (empty for None).
QString ServerSettingsFaultText(ServerSettingsRead::Fault fault,
                                const QString& path = ServerSettingsPath());

// The timer's "alternate IPv4 and IPv6" choice, kept in the same file under [timer]: the
// timer settings have no other place to live, and qm1.dat's layout is fixed. Off when the
// file or the key is missing or unusable.
bool ReadAlternateFamilies(const QString& path = ServerSettingsPath());
// false when the file could not be written; the server's keys stay as they are.
bool WriteAlternateFamilies(bool on, const QString& path = ServerSettingsPath());
