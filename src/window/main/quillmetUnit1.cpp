#include "window/main/quillmetUnit1.h"

#include "core/measure/DownloadRun.h"
#include "core/net/Nmhttp.h"
#include "core/platform/Exceptions.h"
#include "core/upload/HttpUploadRun.h"
#include "core/upload/UploadRun.h"
#include "window/dialogs/quillmetUnit4.h"
#include "window/main/EditBoxCopyFilter.h"
#include "window/widgets/ExceptionReport.h"
#include "window/widgets/Fonts.h"
#include "window/widgets/MessageBox.h"
#include "window/widgets/Widgets.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>

TForm1* Form1 = nullptr;

TForm1::TForm1(QStringList arguments, QWidget* parent)
    : QMainWindow(parent)
    , m_download(new DownloadRun(this))
    , m_upload(new UploadRun(this))
    , m_httpUpload(new HttpUploadRun(this))
    , m_schedule(new MeasurementSchedule(this))
    , NMHTTP1(m_download->NMHTTP1)
    , Timer1(m_download->Timer1)
    , ClientSocket3(m_upload->ClientSocket3)
    , SmtpSilenceTimer(m_upload->SmtpSilenceTimer)
    , Timer2(m_schedule->RepeatTimer)
    , Timer3(m_schedule->IntervalTimer)
    , Timer4(m_schedule->GapTimer)
    , m_arguments(std::move(arguments)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quillmet ver.1.90"));
    setFont(PixelFont(kGothic, 12));

    BuildControls(this);
    BuildMenus(this);
    SetUpHistoryList();
    ConnectDownload();
    ConnectUpload();
    ConnectHttpUpload();
    ConnectSchedule();
    // The menu shortcuts work from the edit boxes too; Ctrl+C stays with an edit box that
    // has a selection.
    EditBoxCopyFilter::InstallOn(this);

    // Fixed single border, centred on the screen.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    Edit7->setFocus();
}

TForm1::~TForm1() {
    SetErrorExplainer({});
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::SetStatus(const QString& text) {
    m_statusText->setText(text);
    m_statusText->setToolTip(QString());
}

QString TForm1::StatusText() const {
    return m_statusText->text();
}

void TForm1::AppendHistoryLine(const QString& line, int cap) {
    ListBox1->addItem(line);
    if (ListBox1->count() > cap)
        delete ListBox1->takeItem(0);
    // What was measured survives a crash.
    WriteStateFile(true);
}

void TForm1::FormCreate() {
    ReadStateFile();
    ReadServerSettings();

    const bool recordShown = Label44->text() == QStringLiteral("true");
    Label41->setVisible(recordShown);
    Label42->setVisible(recordShown);
    Label43->setVisible(recordShown);
    UpdateChartRecord();

    for (const UrlSlot& slot : UrlSlots())
        slot.menu->setTitle(slot.caption->text());

    if (m_arguments.size() == 1)
        m_schedule->SetRepeatCount(StrToInt(m_arguments.front().toStdString()));

    if (m_schedule->RepeatPending())
        ClickButton1();

    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive)
                    Guarded([this] { AppDeactivate(); });
            });
}

void TForm1::AppDeactivate() {
    m_download->MarkDisturbed();
    m_httpUpload->MarkDisturbed();
}

void TForm1::FormClose() {
    // A caution still waiting for its answer counts as cancelled.
    if (Form4 && Form4->isVisible())
        Form4->reject();
    m_upload->Close();
    StopTimerSchedule();
    WriteStateFile();
}

void TForm1::Exit1Click() {
    close();
}

void TForm1::CloseForSignal() {
    // Nobody will answer a box or dialog now: each one returns as Cancel (OK), so that the
    // waits unwind and the program can end, also before the event loop has started.
    m_state.SetUnattended();
    CloseOpenDialogs();
    close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!m_closed) {
        m_closed = true;
        Guarded([this] { FormClose(); });
        emit closed();
    }
    QMainWindow::closeEvent(event);
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A focused button takes Enter itself; otherwise Button1 is the default button.
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused && focused != Button1) {
            focused->click();
            return;
        }
        if (Button1->isEnabled()) {
            Guarded([this] { Button1Click(); });
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}
