// The main window's state file "qm1.dat": its controls into a snapshot and back.
#include "window/main/quillmetUnit1.h"

#include "window/widgets/MessageBox.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <cstdio>

namespace {
using S = StateSnapshot;
using C = TForm1Controls;
// The controls the file carries, each with its place in the snapshot.
constexpr std::pair<EditState S::*, QLineEdit * C::*> kEdits[] = {
    {&S::Edit3, &C::Edit3}, {&S::Edit8, &C::Edit8}, {&S::Edit7, &C::Edit7}};
constexpr std::pair<LabelState S::*, QLabel * C::*> kLabels[] = {
    {&S::Label15, &C::Label15}, {&S::Label31, &C::Label31}, {&S::Label32, &C::Label32},
    {&S::Label37, &C::Label37}, {&S::Label38, &C::Label38}, {&S::Label33, &C::Label33},
    {&S::Label34, &C::Label34}, {&S::Label35, &C::Label35}, {&S::Label39, &C::Label39},
    {&S::Label3a, &C::Label3a}, {&S::Label41, &C::Label41}, {&S::Label42, &C::Label42},
    {&S::Label43, &C::Label43}, {&S::Label44, &C::Label44}};
} // namespace

StateSnapshot TForm1::CaptureState() const {
    StateSnapshot s;
    for (const auto& [state, edit] : kEdits)
        s.*state = {(this->*edit)->text(), !(this->*edit)->isHidden()};
    for (int i = 0; i < ListBox1->count(); ++i)
        s.ListBox1 << ListBox1->item(i)->text();
    for (const auto& [state, member] : kLabels) {
        const QLabel* l = this->*member;
        s.*state = {l->text(), l->fontMetrics().horizontalAdvance(l->text()), !l->isHidden()};
    }
    return s;
}

void TForm1::ApplyState(const StateSnapshot& s) {
    for (const auto& [state, edit] : kEdits) {
        (this->*edit)->setText((s.*state).Text);
        (this->*edit)->setVisible((s.*state).Visible);
    }
    ListBox1->clear();
    ListBox1->addItems(s.ListBox1);
    for (const auto& [state, label] : kLabels) {
        (this->*label)->setText((s.*state).Caption);
        (this->*label)->setVisible((s.*state).Visible);
    }
}

void TForm1::ReadStateFile() {
    StateSnapshot state = CaptureState();
    const StateOpen open = m_state.Open(state, QDateTime::currentDateTime());
    if (open.Found())
        ApplyState(state);
    if (!open.status.isEmpty()) {
        std::fprintf(stderr, "quillmet: %s\n", open.log.toLocal8Bit().constData());
        SetStatus(open.status);
    }
}

void TForm1::WriteStateFile(bool quietly) {
    std::function<bool(const QString&)> ask;
    if (!quietly)
        ask = [](const QString& question) {
            return ShowMessageBox(question, MsgButtons::RetryCancel, MsgIcon::Warning) ==
                   MsgResult::Retry;
        };
    const StateSave save = m_state.Save([this] { return CaptureState(); }, ask);
    if (save.outcome != StateSave::Outcome::Failed)
        return;
    std::fprintf(stderr, "quillmet: %s\n", save.log.toLocal8Bit().constData());
    // After a line the window goes on and the next one tries again; the user should know meanwhile.
    if (quietly)
        SetStatus(save.status);
}
