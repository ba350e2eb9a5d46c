#include "window/dialogs/LineTestWindow.h"

#include "core/linetest/LineTestRun.h"
#include "core/net/ErrorExplanation.h"
#include "window/widgets/Fonts.h"
#include "window/widgets/Widgets.h"

#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLineEdit>
#include <QLineSeries>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {
const QColor kDownloadColor(20, 140, 70);
const QColor kUploadColor(190, 30, 90);
const QColor kConnectionColor(110, 110, 110);

QString mbps(double bytesPerSecond) {
    return QLocale(QLocale::Japanese, QLocale::Japan).toString(bytesPerSecond * 8.0 / 1e6, 'f', 1);
}

// Round trips on a LAN or loopback are well under a millisecond: two decimals there.
QString ms(double value) {
    return QString::number(value, 'f', value < 1.0 ? 2 : 1);
}

// 1, 2 or 5 times a power of ten, at least the value: the Mbit/s axis grows in round steps.
double roundCeiling(double value) {
    if (value <= 1.0)
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= value)
            return step * power;
    }
    return 10.0 * power;
}

QString phaseText(LineTestPhase phase) {
    switch (phase) {
    case LineTestPhase::Descriptor:
        return QStringLiteral("測定サーバーの案内を読んでいます…");
    case LineTestPhase::IdleLatency:
        return QStringLiteral("無負荷時の遅延を測っています…");
    case LineTestPhase::Download:
        return QStringLiteral("下りの速度と負荷時の遅延を測っています…");
    case LineTestPhase::Upload:
        return QStringLiteral("上りの速度と負荷時の遅延を測っています…");
    case LineTestPhase::Idle:
        break;
    }
    return QString();
}

QLineEdit* resultBox(QWidget* parent, const char* name, const QString& accessibleName) {
    QLineEdit* box = MakeEdit(parent, name, true);
    box->setAccessibleName(accessibleName);
    box->setMinimumWidth(230);
    return box;
}
} // namespace

QString LineTestGradeExplanation(const QString& grade) {
    static const std::pair<const char*, const char*> kMeanings[] = {
        {"A+", "ビデオ会議やゲームでも、回線が混んだときの遅延の増加はほとんど感じられません。"},
        {"A", "回線が混んでも遅延はわずかしか増えず、ビデオ会議やゲームも快適に使えます。"},
        {"B", "回線が混むと遅延が少し増えますが、ふだんの利用にはほとんど差し支えありません。"},
        {"C", "大きなファイルの送受信中は、ビデオ会議やゲームで遅れを感じることがあります。"},
        {"D", "回線が混むと遅延が大きく増え、通話やゲームが途切れがちになります。"},
        {"F", "回線が混むと遅延が極端に増え、送受信の間はWebページの表示さえ遅くなります。"},
    };
    for (const auto& [name, meaning] : kMeanings) {
        if (grade == QLatin1String(name))
            return QString::fromUtf8(meaning);
    }
    return QString();
}

LineTestWindow::LineTestWindow(QWidget* parent)
    : QDialog(parent)
    , m_run(new LineTestRun(this)) {
    setObjectName(QStringLiteral("LineTestWindow"));
    setWindowTitle(QStringLiteral("回線品質測定"));
    setFont(PixelFont(kGothic, 12));

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    ServerEdit = MakeEdit(this, "ServerEdit", true);
    ServerEdit->setAccessibleName(QStringLiteral("測定サーバー"));
    ServerEdit->setMinimumWidth(240);
    auto* serverLabel = MakeLabel(this, "ServerLabel", QStringLiteral("測定サーバー(&M):"));
    serverLabel->setBuddy(ServerEdit);
    StartButton = MakeButton(this, "StartButton", QStringLiteral("測定開始(&S)"));
    StartButton->setToolTip(QStringLiteral("回線品質の測定を開始"));
    StartButton->setAccessibleName(QStringLiteral("測定開始"));
    StopButton = MakeButton(this, "StopButton", QStringLiteral("中止(&A)"));
    StopButton->setToolTip(QStringLiteral("測定を中止 (Esc)"));
    StopButton->setAccessibleName(QStringLiteral("中止"));
    StopButton->setEnabled(false);
    top->addWidget(serverLabel);
    top->addWidget(ServerEdit, 1);
    top->addWidget(StartButton);
    top->addWidget(StopButton);
    layout->addLayout(top);

    PhaseLabel = MakeLabel(this, "PhaseLabel",
                           QStringLiteral("「測定開始」で、下りと上りの速度と"
                                          "負荷時の遅延を測ります。"));
    PhaseLabel->setAccessibleName(QStringLiteral("測定の段階"));
    layout->addWidget(PhaseLabel);

    BuildChart();
    layout->addWidget(ChartView, 1);

    auto* bottom = new QHBoxLayout;
    auto* results = new QFormLayout;
    DownloadEdit = resultBox(this, "DownloadEdit", QStringLiteral("下り (Mbit/s)"));
    UploadEdit = resultBox(this, "UploadEdit", QStringLiteral("上り (Mbit/s)"));
    IdleLatencyEdit = resultBox(this, "IdleLatencyEdit", QStringLiteral("無負荷時の遅延 (ms)"));
    LoadedLatencyEdit =
        resultBox(this, "LoadedLatencyEdit", QStringLiteral("負荷時の遅延 下り/上り (ms)"));
    JitterEdit = resultBox(this, "JitterEdit", QStringLiteral("ジッター (ms)"));
    RpmEdit = resultBox(this, "RpmEdit", QStringLiteral("RPM"));
    GradeEdit = resultBox(this, "GradeEdit", QStringLiteral("判定"));
    GradeEdit->setFont(PixelFont(kGothic, 15, true));
    const std::pair<QLineEdit*, const char*> rows[] = {
        {DownloadEdit, "下り(&D):"},
        {UploadEdit, "上り(&U):"},
        {IdleLatencyEdit, "無負荷時の遅延(&I):"},
        {LoadedLatencyEdit, "負荷時の遅延(&L):"},
        {JitterEdit, "ジッター(&J):"},
        {RpmEdit, "RPM(&R):"},
        {GradeEdit, "判定(&G):"},
    };
    for (const auto& [box, caption] : rows) {
        auto* label = new QLabel(QString::fromUtf8(caption), this);
        label->setObjectName(box->objectName() + QStringLiteral("Label"));
        label->setBuddy(box);
        results->addRow(label, box);
    }

    // The grade's meaning sits under the grade, two lines kept for it so nothing moves.
    GradeText = MakeLabel(this, "GradeText", QString());
    GradeText->setWordWrap(true);
    GradeText->setAccessibleName(QStringLiteral("判定の説明"));
    GradeText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    GradeText->setFixedWidth(340);
    GradeText->setMinimumHeight(2 * GradeText->fontMetrics().height() + 4);
    results->addRow(GradeText);
    auto* right = new QVBoxLayout;
    NotesText = Named(new QPlainTextEdit(this), "NotesText");
    NotesText->setReadOnly(true);
    NotesText->setAccessibleName(QStringLiteral("測定の注記"));
    NotesText->setPlaceholderText(QStringLiteral("測定中に気づいたことをここに書きます。"));
    NotesText->setMinimumWidth(280);
    auto* notesLabel = MakeLabel(this, "NotesLabel", QStringLiteral("注記(&N):"));
    notesLabel->setBuddy(NotesText);
    right->addWidget(notesLabel);
    right->addWidget(NotesText, 1);
    bottom->addLayout(results);
    bottom->addLayout(right, 1);
    layout->addLayout(bottom);

    StatusLabel = MakeLabel(this, "StatusLabel", QString());
    StatusLabel->setWordWrap(true);
    StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusLabel->setFrameShape(QFrame::Panel);
    StatusLabel->setFrameShadow(QFrame::Sunken);
    StatusLabel->setAccessibleName(QStringLiteral("状態"));
    layout->addWidget(StatusLabel);

    QWidget::setTabOrder(StartButton, StopButton);
    QWidget::setTabOrder(StopButton, ServerEdit);
    QWidget* previous = ServerEdit;
    for (QWidget* w : std::initializer_list<QWidget*>{DownloadEdit, UploadEdit, IdleLatencyEdit,
                                                      LoadedLatencyEdit, JitterEdit, RpmEdit,
                                                      GradeEdit, NotesText}) {
        QWidget::setTabOrder(previous, w);
        previous = w;
    }
    StartButton->setDefault(true);
    StartButton->setFocus();
    resize(780, 620);

    BindHandler(StartButton, &QPushButton::clicked, this, &LineTestWindow::StartClick);
    BindHandler(StopButton, &QPushButton::clicked, this, &LineTestWindow::StopClick);
    connect(m_run, &LineTestRun::phaseChanged, this, &LineTestWindow::OnPhase);
    connect(m_run, &LineTestRun::sampled, this, &LineTestWindow::OnSampled);
    connect(m_run, &LineTestRun::noted, this, &LineTestWindow::OnNoted);
    connect(m_run, &LineTestRun::completed, this, &LineTestWindow::OnCompleted);
    connect(m_run, &LineTestRun::failed, this, &LineTestWindow::OnFailed);
    connect(m_run, &LineTestRun::stopped, this, &LineTestWindow::OnStopped);
}

LineTestWindow::~LineTestWindow() {
    // No report reaches a window that is going.
    m_run->disconnect(this);
    m_run->Abort();
}

void LineTestWindow::BuildChart() {
    Chart = new QChart;
    Chart->setObjectName(QStringLiteral("LineTestChart"));
    Chart->legend()->setAlignment(Qt::AlignBottom);
    Chart->setMargins(QMargins(4, 4, 4, 4));
    auto line = [this](const char* name, const QString& legend, const QPen& pen) {
        auto* s = new QLineSeries;
        s->setObjectName(QString::fromLatin1(name));
        s->setName(legend);
        s->setPen(pen);
        Chart->addSeries(s);
        return s;
    };
    DownloadSeries =
        line("DownloadSeries", QStringLiteral("下り (Mbit/s)"), QPen(kDownloadColor, 2));
    UploadSeries = line("UploadSeries", QStringLiteral("上り (Mbit/s)"), QPen(kUploadColor, 2));
    ConnectionSeries = line("ConnectionSeries", QStringLiteral("接続数"),
                            QPen(kConnectionColor, 1.5, Qt::DashLine));

    AxisTime = Named(new QValueAxis, "AxisTime");
    AxisTime->setTitleText(QStringLiteral("経過時間 (秒)"));
    AxisTime->setLabelFormat(QStringLiteral("%d"));
    AxisMbps = Named(new QValueAxis, "AxisMbps");
    AxisMbps->setTitleText(QStringLiteral("Mbit/s"));
    AxisMbps->setLabelFormat(QStringLiteral("%.0f"));
    AxisConnections = Named(new QValueAxis, "AxisConnections");
    AxisConnections->setTitleText(QStringLiteral("接続数"));
    AxisConnections->setLabelFormat(QStringLiteral("%d"));
    // The Mbit/s grid is the one drawn; a second set of lines would not meet it.
    AxisConnections->setGridLineVisible(false);
    Chart->addAxis(AxisTime, Qt::AlignBottom);
    Chart->addAxis(AxisMbps, Qt::AlignLeft);
    Chart->addAxis(AxisConnections, Qt::AlignRight);
    for (QLineSeries* s : {DownloadSeries, UploadSeries, ConnectionSeries})
        s->attachAxis(AxisTime);
    DownloadSeries->attachAxis(AxisMbps);
    UploadSeries->attachAxis(AxisMbps);
    ConnectionSeries->attachAxis(AxisConnections);

    ChartView = Named(new QChartView(Chart, this), "ChartView");
    ChartView->setRenderHint(QPainter::Antialiasing);
    ChartView->setMinimumSize(560, 250);
    ChartView->setAccessibleName(QStringLiteral("速度と接続数のグラフ"));
    ChartView->setFocusPolicy(Qt::NoFocus);
    ClearTest();
}

void LineTestWindow::ClearTest() {
    for (QLineSeries* s : {DownloadSeries, UploadSeries, ConnectionSeries})
        s->clear();
    m_peakMbps = 0;
    m_lastConnections = -1;
    AxisTime->setRange(0, 10);
    AxisTime->setTickCount(6);
    AxisMbps->setRange(0, 10);
    AxisMbps->setTickCount(6);
    AxisMbps->setLabelFormat(QStringLiteral("%.0f"));
    const int connections = std::max(1, m_run->Timings.maxConnections);
    AxisConnections->setRange(0, connections);
    AxisConnections->setTickCount(connections % 4 == 0 ? 5 : 2);
    if (!DownloadEdit)
        return;
    for (QLineEdit* box : {DownloadEdit, UploadEdit, IdleLatencyEdit, LoadedLatencyEdit, JitterEdit,
                           RpmEdit, GradeEdit})
        box->clear();
    GradeText->clear();
    NotesText->clear();
    SetStatus(QString());
}

void LineTestWindow::SetStatus(const QString& text) {
    StatusLabel->setText(text);
    StatusLabel->setAccessibleDescription(text);
}

void LineTestWindow::ShowServer() {
    if (!ServerSource || m_testing)
        return;
    m_server = ServerSource();
    ServerEdit->setText(m_server.Authority());
}

void LineTestWindow::showEvent(QShowEvent* event) {
    ShowServer();
    QDialog::showEvent(event);
}

void LineTestWindow::StartClick() {
    if (m_testing)
        return;
    if (OtherMeasurementBusy && OtherMeasurementBusy()) {
        SetStatus(QStringLiteral("ほかの測定が実行中か予定されているため、回線品質測定を始めら"
                                 "れません。その測定が終わってから、もう一度お試しください。"));
        return;
    }
    ShowServer();
    ClearTest();
    m_testing = true;
    StartButton->setEnabled(false);
    StopButton->setEnabled(true);
    StopButton->setFocus();
    emit testStarted();
    m_run->Start(m_server);
}

void LineTestWindow::StopClick() {
    m_run->Stop();
}

void LineTestWindow::reject() {
    if (m_testing) {
        StopClick();
        return;
    }
    QDialog::reject();
}

void LineTestWindow::closeEvent(QCloseEvent* event) {
    if (m_testing) {
        m_run->Abort();
        OnStopped();
    }
    QDialog::closeEvent(event);
}

void LineTestWindow::OnPhase(LineTestPhase phase) {
    const QString text = phaseText(phase);
    if (!text.isEmpty())
        PhaseLabel->setText(text);
}

void LineTestWindow::OnSampled(const LineTestSample& sample) {
    const double t = sample.msecs / 1000.0;
    const double rate = sample.bytesPerSecond * 8.0 / 1e6;
    (sample.phase == LineTestPhase::Upload ? UploadSeries : DownloadSeries)->append(t, rate);
    // A step: the count holds until the sample where it changed.
    if (m_lastConnections >= 0 && sample.connections != m_lastConnections)
        ConnectionSeries->append(t, m_lastConnections);
    ConnectionSeries->append(t, sample.connections);
    m_lastConnections = sample.connections;
    if (t > AxisTime->max()) {
        AxisTime->setRange(0, std::ceil(t / 5.0) * 5.0);
        AxisTime->applyNiceNumbers();
    }
    if (rate > m_peakMbps) {
        m_peakMbps = rate;
        const double top = roundCeiling(rate * 1.1);
        if (top > AxisMbps->max()) {
            AxisMbps->setRange(0, top);
            AxisMbps->applyNiceNumbers();
            AxisMbps->setLabelFormat(top >= 10 ? QStringLiteral("%.0f") : QStringLiteral("%.1f"));
        }
    }
}

void LineTestWindow::OnNoted(const QString& text) {
    NotesText->appendPlainText(text);
}

void LineTestWindow::OnCompleted(const LineTestResult& r) {
    DownloadEdit->setText(QStringLiteral("%1 Mbit/s（%2 接続）")
                              .arg(mbps(r.download.bytesPerSecond))
                              .arg(r.download.connections));
    UploadEdit->setText(QStringLiteral("%1 Mbit/s（%2 接続）")
                            .arg(mbps(r.upload.bytesPerSecond))
                            .arg(r.upload.connections));
    IdleLatencyEdit->setText(
        QStringLiteral("%1 ms（%2～%3 ms）")
            .arg(ms(r.idleLatency.medianMs), ms(r.idleLatency.lowMs), ms(r.idleLatency.highMs)));
    LoadedLatencyEdit->setText(
        QStringLiteral("下り %1 ms ／ 上り %2 ms")
            .arg(ms(r.download.latency.medianMs), ms(r.upload.latency.medianMs)));
    JitterEdit->setText(QStringLiteral("無負荷 %1 ／ 下り %2 ／ 上り %3 ms")
                            .arg(ms(r.idleLatency.jitterMs), ms(r.download.latency.jitterMs),
                                 ms(r.upload.latency.jitterMs)));
    RpmEdit->setText(
        QStringLiteral("%1（%2）")
            .arg(QLocale(QLocale::Japanese, QLocale::Japan).toString(r.rpm), r.rpmBand));
    GradeEdit->setText(r.grade);
    GradeText->setText(LineTestGradeExplanation(r.grade));
    PhaseLabel->setText(QStringLiteral("測定が終わりました（%1 開始）")
                            .arg(r.started.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))));

    // The measurement stays on screen whatever becomes of its record.
    const JournalAppend append = Journal.Append(LineTestRecord(r));
    if (append.ok())
        SetStatus(QStringLiteral("結果を測定記録に追加しました。"));
    else
        SetStatus(append.message);
    Ended();
    if (append.ok())
        emit journalAppended();
}

void LineTestWindow::OnFailed(const RunOutcome& outcome) {
    PhaseLabel->setText(QStringLiteral("測定できませんでした"));
    SetStatus(LineTestFailureText(outcome, m_server.Authority()));
    Ended();
}

void LineTestWindow::OnStopped() {
    PhaseLabel->setText(QStringLiteral("測定を中止しました"));
    Ended();
}

void LineTestWindow::Ended() {
    if (!m_testing)
        return;
    m_testing = false;
    StopButton->setEnabled(false);
    StartButton->setEnabled(true);
    StartButton->setFocus();
    emit testEnded();
}
