// The history as a CSV or JSON file, one record per line that parses.
#pragma once

#include "core/history/HistoryRecord.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The record fields that every export carries, in this order: kind, host, started,
// connect_ms, bytes, kbps, mbps, mbit_s, mark. A tool that adds fields of its own appends
// them to these.
QStringList HistoryCsvHeader();
QStringList HistoryCsvRow(const HistoryRecord& record);
QJsonObject HistoryJsonObject(const HistoryRecord& record);

// One CSV line: the fields joined by commas, a field quoted when it holds a comma, a double
// quote, CR or LF (double quotes doubled), CR LF at the end. A field beginning with "=", "+",
// "-", "@", a tab or CR that is not a plain number gets a "'" in front, so that a spreadsheet
// does not run it as a formula.
QString CsvLine(const QStringList& fields);

// Whole documents, UTF-8 without a byte order mark: the CSV with its header line first, the
// JSON as one array.
QByteArray HistoryCsv(const QList<HistoryRecord>& records);
QByteArray HistoryJson(const QList<HistoryRecord>& records);

struct HistoryExportResult {
    bool ok = false;
    QString reason;  // why nothing was written
    int written = 0; // records in the file
    int skipped = 0; // lines that did not parse and are left out
};

// Writes the lines that parse to `path` as CSV or JSON, chosen by its extension (.csv,
// .json, any case). The file is replaced whole or not at all. The JSON's records also carry
// "family" and "address" where the results journal has a measurement of the same kind that
// started in the same second; the CSV keeps its columns.
HistoryExportResult ExportHistory(const QString& path, const QStringList& lines);
HistoryExportResult ExportHistory(const QString& path, const QStringList& lines,
                                  const QString& journalPath);
