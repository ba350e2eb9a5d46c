// The main window's side of the line test: its window, and the rule that a line test and the
// window's own runs do not overlap.
#include "window/chart/HistoryChart.h"
#include "window/dialogs/LineTestWindow.h"
#include "window/main/quillmetUnit1.h"

void TForm1::LineTest1Click() {
    if (!m_lineTest) {
        m_lineTest = new LineTestWindow(this);
        m_lineTest->ServerSource = [this] { return m_server; };
        // A schedule or a command-line repeat would start a run in the middle of the test.
        m_lineTest->OtherMeasurementBusy = [this] {
            return RunInProgress() || m_schedule->Active() || m_schedule->RepeatPending();
        };
        connect(m_lineTest, &LineTestWindow::testStarted, this, [this] { SetStartEnabled(false); });
        connect(m_lineTest, &LineTestWindow::testEnded, this, [this] {
            if (!RunInProgress() && !m_schedule->Active())
                SetStartEnabled(true);
        });
        connect(m_lineTest, &LineTestWindow::journalAppended, this, [this] {
            if (m_chart)
                m_chart->ReloadJournal();
        });
        // The program is ending: a test under way stops at once.
        connect(this, &TForm1::closed, m_lineTest, &LineTestWindow::close);
    }
    m_lineTest->show();
    m_lineTest->raise();
    m_lineTest->activateWindow();
}

bool TForm1::LineTestRunning() const {
    return m_lineTest && m_lineTest->Running();
}
