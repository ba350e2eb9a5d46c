// The measurement server: where the presets' sample files are, as the user chose it.
#pragma once

#include "core/net/AddressFamily.h"

#include <QString>
#include <QStringList>
#include <initializer_list>
#include <optional>

// Why a "HOST[:PORT]" text, a host or a port was not taken.
// BadIpv6Literal: brackets or colons that do not make an IPv6 address ("[::1", "[::1]x", "1:2").
enum class ServerAddressError { None, EmptyHost, BadHost, BadIpv6Literal, BadPort };

struct MeasurementServer {
    QString host; // an IPv6 address without brackets
    quint16 port = 80;
    // The sample file paths the server's descriptor listed; none read means every preset is
    // offered, as the server may still have the files.
    std::optional<QStringList> files;
    // The family every measurement connects with; none chosen: each measurement's own default
    // (the download IPv4 as it always was, the HTTP upload and the line test Auto).
    std::optional<AddressFamily> family;

    // The chosen family, or the measurement's own default when none is.
    AddressFamily FamilyOr(AddressFamily measurementDefault) const {
        return family.value_or(measurementDefault);
    }

    // The built-in server (the configured sample host).
    static MeasurementServer Default();

    // "host:port", or the host alone for port 80, as it goes into a URL ("[::1]:8080").
    QString Authority() const;
    // "http://" + Authority() + path.
    QString FileUrl(const QString& path) const;
    // The preset of a size name ("15M" .. "100K") on this server; empty for an unknown size.
    QString PresetUrl(const QString& size) const;
    // Whether the server is known to lack the file at path.
    bool Lacks(const QString& path) const;
    bool SameAddress(const MeasurementServer& other) const {
        return host == other.host && port == other.port;
    }
};

// "HOST[:PORT]" (port 80 when none is given) into server; its file list is left empty.
ServerAddressError ParseServerAddress(const QString& text, MeasurementServer* server);
// A host and a port as the settings dialog's two fields hold them.
ServerAddressError ParseServerFields(const QString& host, const QString& port,
                                     MeasurementServer* server);
// What is wrong, in one line for the user.
QString ServerAddressErrorText(ServerAddressError error);

// The presets' size names, largest first, as the menu and --size name them.
QStringList PresetSizeNames();
// The sample file path of a size name ("4M" -> "/qm/qm4M.jpg"); empty for an unknown size.
QString PresetPath(const QString& size);

// The chosen address with the file list of the first known server at that address (the one
// just checked, or the one chosen before); none known leaves every preset offered.
MeasurementServer WithKnownFiles(MeasurementServer chosen,
                                 std::initializer_list<const MeasurementServer*> known);

// The sample host as the usage text names it: the configured text for the built-in server.
QString SampleHostText(const MeasurementServer& server);
// The example above the URL box: the configured one for the built-in server, else the
// server's smallest preset of 4M or more that it is not known to lack (4M when it lacks all).
QString ExampleUrlText(const MeasurementServer& server);
