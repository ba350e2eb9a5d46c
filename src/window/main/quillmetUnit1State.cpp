// The main window's state file "qm1.dat".
#include "window/main/quillmetUnit1.h"

#include "core/state/StateFile.h"
#include "core/state/StateFileCare.h"
#include "core/state/StateFileLock.h"
#include "window/widgets/MessageBox.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <cstdio>

namespace {
LabelState labelState(const QLabel* label) {
    // A label's width follows its caption.
    return {label->text(), label->fontMetrics().horizontalAdvance(label->text()),
            !label->isHidden()};
}

void applyLabel(QLabel* label, const LabelState& state) {
    label->setText(state.Caption);
    label->setVisible(state.Visible);
}

void applyEdit(QLineEdit* edit, const EditState& state) {
    edit->setText(state.Text);
    edit->setVisible(state.Visible);
}
} // namespace

StateSnapshot TForm1::CaptureState() const {
    StateSnapshot s;
    s.Edit3 = {Edit3->text(), !Edit3->isHidden()};
    s.Edit8 = {Edit8->text(), !Edit8->isHidden()};
    s.Edit7 = {Edit7->text(), !Edit7->isHidden()};
    for (int i = 0; i < ListBox1->count(); ++i)
        s.ListBox1 << ListBox1->item(i)->text();
    s.Label15 = labelState(Label15);
    s.Label31 = labelState(Label31);
    s.Label32 = labelState(Label32);
    s.Label37 = labelState(Label37);
    s.Label38 = labelState(Label38);
    s.Label33 = labelState(Label33);
    s.Label34 = labelState(Label34);
    s.Label35 = labelState(Label35);
    s.Label39 = labelState(Label39);
    s.Label3a = labelState(Label3a);
    s.Label41 = labelState(Label41);
    s.Label42 = labelState(Label42);
    s.Label43 = labelState(Label43);
    s.Label44 = labelState(Label44);
    return s;
}

void TForm1::ApplyState(const StateSnapshot& s) {
    applyEdit(Edit3, s.Edit3);
    applyEdit(Edit8, s.Edit8);
    applyEdit(Edit7, s.Edit7);
    ListBox1->clear();
    ListBox1->addItems(s.ListBox1);
    applyLabel(Label15, s.Label15);
    applyLabel(Label31, s.Label31);
    applyLabel(Label32, s.Label32);
    applyLabel(Label37, s.Label37);
    applyLabel(Label38, s.Label38);
    applyLabel(Label33, s.Label33);
    applyLabel(Label34, s.Label34);
    applyLabel(Label35, s.Label35);
    applyLabel(Label39, s.Label39);
    applyLabel(Label3a, s.Label3a);
    applyLabel(Label41, s.Label41);
    applyLabel(Label42, s.Label42);
    applyLabel(Label43, s.Label43);
    applyLabel(Label44, s.Label44);
}

void TForm1::ReadStateFile() {
    // The lock comes before the read: what another holder appends later would otherwise
    // be overwritten by this window's older copy.
    if (!m_stateLock) {
        m_stateLock = std::make_shared<StateFileLock>(QString::fromLatin1(StateFileName));
        switch (m_stateLock->LockForWindow()) {
        case StateFileLock::Outcome::Acquired:
            break;
        case StateFileLock::Outcome::Held: {
            m_stateReadOnly = true;
            const QString text =
                QStringLiteral("別の Quillmet が qm1.dat "
                               "を使用中のため、このウィンドウの測定履歴などは保存されません。");
            SetStatus(text);
            std::fprintf(stderr, "quillmet: %s\n", text.toLocal8Bit().constData());
            break;
        }
        case StateFileLock::Outcome::Failed:
            // No lock to be had (a read-only folder, say): saving goes on as it always did.
            break;
        }
    }
    StateSnapshot state = CaptureState();
    // A window that may not write leaves the file, and the temporaries of the holder's
    // saves, alone: it only reads.
    const StateLoad load =
        m_stateReadOnly
            ? StateLoad{::ReadStateFile(QString::fromLatin1(StateFileName), state), {}, {}, 0}
            : LoadStateFile(QString::fromLatin1(StateFileName), state,
                            QDateTime::currentDateTime());
    if (load.read.status == StateReadResult::Status::Missing)
        return;
    // A damaged file: what was read before the damage stays, the history is emptied.
    ApplyState(state);
    const QString notice = m_stateReadOnly ? QString() : StateLoadNotice(load);
    if (!notice.isEmpty()) {
        std::fprintf(stderr, "quillmet: %s (%s)\n", notice.toLocal8Bit().constData(),
                     load.read.reason.toLocal8Bit().constData());
        SetStatus(notice);
    }
}

void TForm1::WriteStateFile() {
    if (m_stateReadOnly)
        return;
    for (;;) {
        const StateWriteResult result =
            ::WriteStateFile(QString::fromLatin1(StateFileName), CaptureState());
        if (result.ok)
            return;
        if (m_closingForSignal) {
            std::fprintf(stderr, "quillmet: %s を保存できませんでした: %s\n", StateFileName,
                         result.reason.toLocal8Bit().constData());
            return;
        }
        const QString text =
            QStringLiteral("測定履歴などを %1 に保存できませんでした。\n%2\n\n"
                           "再試行しますか？（キャンセルすると保存せずに終了します）")
                .arg(QString::fromLatin1(StateFileName), result.reason);
        // A signal that closed the box leaves one more try, reported on standard error.
        if (ShowMessageBox(text, MsgButtons::RetryCancel, MsgIcon::Warning) != MsgResult::Retry &&
            !m_closingForSignal)
            return;
    }
}

void TForm1::SaveStateQuietly() {
    if (m_stateReadOnly)
        return;
    const StateWriteResult result =
        ::WriteStateFile(QString::fromLatin1(StateFileName), CaptureState());
    if (result.ok)
        return;
    std::fprintf(stderr, "quillmet: %s を保存できませんでした: %s\n", StateFileName,
                 result.reason.toLocal8Bit().constData());
    // The window keeps the line and the next one tries again; the user should know meanwhile.
    SetStatus(SaveFailedNotice(result));
}

void TForm1::CloseForSignal() {
    m_closingForSignal = true;
    // Nobody will answer a box or dialog now: each one returns as Cancel (OK), so that the
    // waits unwind and the program can end, also before the event loop has started.
    CloseOpenDialogs();
    close();
}
