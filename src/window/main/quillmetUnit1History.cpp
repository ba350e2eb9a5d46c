// The main window's history list, quick presets and their server, saved URLs and fastest
// record.
#include "window/main/quillmetUnit1.h"

#include "core/history/HistoryText.h"
#include "core/history/RecordSpeed.h"
#include "core/history/SavedUrl.h"
#include "core/server/ServerSettings.h"
#include "window/chart/HistoryChart.h"
#include "window/dialogs/HistoryExportDialog.h"
#include "window/dialogs/LineTestWindow.h"
#include "window/dialogs/ServerSettingsDialog.h"
#include "window/widgets/MessageBox.h"
#include "window/widgets/Widgets.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <memory>

namespace {
void deleteSelectedLine(QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    delete list->takeItem(list->row(selected.front()));
    // Nothing is selected afterwards, so a second delete cannot take a line by surprise.
    list->clearSelection();
    list->setCurrentItem(nullptr);
}

QStringList historyLines(const QListWidget* list) {
    QStringList lines;
    lines.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

void copyHistory(const QListWidget* list) {
    QGuiApplication::clipboard()->setText(HistoryClipboardText(historyLines(list)));
}

// The newest line stays in view while the list is scrolled to the bottom: a line appended
// or a history read at start-up shows its last line. A user who has scrolled up to read is
// left there until they scroll back down. The range changes when the list lays out its
// lines, which may come later than the append, so the bottom is followed there.
void followNewestLine(QListWidget* list) {
    QScrollBar* bar = list->verticalScrollBar();
    auto atBottom = std::make_shared<bool>(true);
    QObject::connect(bar, &QScrollBar::valueChanged, list,
                     [bar, atBottom](int value) { *atBottom = value == bar->maximum(); });
    QObject::connect(bar, &QScrollBar::rangeChanged, list, [bar, atBottom](int, int max) {
        if (*atBottom)
            bar->setValue(max);
    });
}

} // namespace

void TForm1::DeleteHistoryLine() {
    deleteSelectedLine(ListBox1);
}

void TForm1::CopyHistory() {
    copyHistory(ListBox1);
}

void TForm1::D2Click() {
    ListBox1->clear();
    Label2->setText(QStringLiteral("測定履歴"));
}

void TForm1::SetUpHistoryList() {
    ListBox1->setToolTip(QStringLiteral("＊ 不安定・中断・小さすぎるファイル\n"
                                        "＊＊ 接続時間を測れなかった\n"
                                        "ダブルクリックまたは Ctrl+G でグラフを表示します。"));
    BindHandler(ListBox1, &QListWidget::itemDoubleClicked, this, &TForm1::G1Click);
    followNewestLine(ListBox1);
}

void TForm1::G1Click() {
    if (!m_chart) {
        m_chart = new TForm7(this);
        m_chart->SetHistoryModel(ListBox1->model());
        UpdateChartRecord();
    }
    m_chart->show();
    m_chart->raise();
    m_chart->activateWindow();
}

void TForm1::X1Click() {
    ExportHistoryWithDialog(this, historyLines(ListBox1));
}

void TForm1::UpdateChartRecord() {
    // The display's own flag, not isVisible(): the window may not be shown yet.
    if (m_chart)
        m_chart->SetFastestRecord(!Label41->isHidden(), Label43->text());
}

void TForm1::ChoosePreset(const char* size) {
    Edit7->setText(m_server.PresetUrl(QString::fromLatin1(size)));
}

void TForm1::ReadServerSettings() {
    const ServerSettingsRead read = ::ReadServerSettings();
    m_server = read.server;
    ShowServer(m_server);
    if (read.fault != ServerSettingsRead::Fault::None)
        SetStatus(ServerSettingsFaultText(read.fault));
}

void TForm1::ServerSettings1Click() {
    ServerSettingsDialog dialog(m_server, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_server = dialog.Chosen();
    ShowServer(m_server);
    if (m_lineTest)
        m_lineTest->ShowServer();
    if (!WriteServerSettings(m_server))
        SetStatus(QStringLiteral("設定ファイル %1 に保存できませんでした")
                      .arg(QDir::toNativeSeparators(ServerSettingsPath())));
}

void TForm1::SaveUrl(std::size_t slot) {
    const QString url = Edit7->text();
    if (!IsSavableUrl(url)) {
        ShowMessageBox(QStringLiteral("URLを正しく入力してください。"));
        return;
    }
    const UrlSlot s = UrlSlots()[slot];
    const QString caption = SavedUrlCaption(url, QString::fromLatin1(s.suffix));
    s.url->setText(url);
    s.caption->setText(caption);
    s.menu->setTitle(caption);
}

void TForm1::RecallUrl(std::size_t slot) {
    Edit7->setText(UrlSlots()[slot].url->text());
}

void TForm1::Button6Click() {
    const bool show = Label44->text() == QStringLiteral("false");
    Label41->setVisible(show);
    Label42->setVisible(show);
    Label43->setVisible(show);
    Label44->setText(show ? QStringLiteral("true") : QStringLiteral("false"));
    UpdateChartRecord();
}

void TForm1::T1Click() {
    Label42->setText(QStringLiteral("0"));
    Label43->setText(QStringLiteral("0"));
    UpdateChartRecord();
}

void TForm1::OfferToFastestRecord(int resultMark) {
    // The display's own flag, not isVisible(): the window may not be shown yet.
    if (Label41->isHidden() || resultMark != 0)
        return;
    if (!IsNewRecord(Label42->text(), Edit5->text()))
        return;
    Label42->setText(Edit5->text());
    Label43->setText(Edit9->text());
    SetEditTextColor(Edit5, QColor(255, 0, 0));
    SetEditTextColor(Edit9, QColor(255, 0, 0));
    // Not by colour alone.
    for (QWidget* w : std::initializer_list<QWidget*>{Edit5, Edit9, Label42}) {
        w->setToolTip(QStringLiteral("最速記録を更新しました"));
        w->setAccessibleDescription(QStringLiteral("最速記録を更新しました"));
    }
    UpdateChartRecord();
}
