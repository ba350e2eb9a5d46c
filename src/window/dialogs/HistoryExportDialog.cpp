#include "window/dialogs/HistoryExportDialog.h"

#include "window/widgets/MessageBox.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {
const QString kCsvFilter = QStringLiteral("CSV (*.csv)");
const QString kJsonFilter = QStringLiteral("JSON (*.json)");
} // namespace

HistoryExportResult ExportHistoryReporting(const QString& path, const QStringList& lines) {
    const HistoryExportResult result = ExportHistory(path, lines);
    if (!result.ok) {
        ShowMessageBox(QStringLiteral("測定履歴をエクスポートできませんでした。\n") + result.reason,
                       MsgButtons::Ok, MsgIcon::Warning);
    } else if (result.skipped > 0) {
        ShowMessageBox(QStringLiteral("測定履歴を%1件エクスポートしました。\n"
                                      "読み取れない%2行は含めていません。")
                           .arg(result.written)
                           .arg(result.skipped),
                       MsgButtons::Ok, MsgIcon::Information);
    }
    return result;
}

void ExportHistoryWithDialog(QWidget* parent, const QStringList& lines) {
    QString filter = kCsvFilter;
    QString path = QFileDialog::getSaveFileName(
        parent, QStringLiteral("測定履歴をエクスポート"),
        QDir::current().filePath(QStringLiteral("quillmet-history.csv")),
        kCsvFilter + QStringLiteral(";;") + kJsonFilter, &filter);
    if (path.isEmpty())
        return;
    // A name typed without an extension takes the chosen type's.
    if (QFileInfo(path).suffix().isEmpty())
        path += filter == kJsonFilter ? QStringLiteral(".json") : QStringLiteral(".csv");
    ExportHistoryReporting(path, lines);
}
