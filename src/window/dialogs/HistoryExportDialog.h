// Exporting the history from a window: the file dialog and the messages around it.
#pragma once

#include "core/history/HistoryExport.h"

class QWidget;

// Exports and tells the user what went wrong: a failure shows the reason in a message box
// (the list and any old file stay as they were); lines left out are counted in a note.
HistoryExportResult ExportHistoryReporting(const QString& path, const QStringList& lines);

// Asks for a .csv or .json file and exports to it; a cancelled dialog does nothing.
void ExportHistoryWithDialog(QWidget* parent, const QStringList& lines);
