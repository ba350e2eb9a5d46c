#include "window/chart/HistoryChart.h"

#include "core/history/ResultsJournal.h"
#include "core/measure/NumberFormat.h"
#include "core/state/AtomicFile.h"
#include "window/widgets/Fonts.h"
#include "window/widgets/MessageBox.h"

#include <QAbstractItemModel>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QStackedWidget>
#include <QTextDocument>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <tuple>

namespace {
const QColor kDownloadColor(31, 119, 180);
const QColor kUploadColor(230, 120, 20);
const QColor kHttpUploadColor(150, 60, 190);
const QColor kMeanColor(20, 60, 110);
const QColor kRecordColor(220, 0, 0);
const QColor kLineDownloadColor(20, 140, 70);
const QColor kLineUploadColor(190, 30, 90);

const QColor kIpv4Color(31, 119, 180);
const QColor kIpv6Color(200, 80, 20);
// Each family's point of an hour sits this far beside the hour, so that both show.
constexpr double kHourOffset = 0.17;

const QString kAllHosts = QStringLiteral("すべてのホスト");
const QString kNoHost = QStringLiteral("（ホスト名なし）");

QScatterSeries* scatter(const QString& name, const QString& legend, const QColor& color,
                        QScatterSeries::MarkerShape shape, bool filled) {
    auto* s = new QScatterSeries;
    s->setObjectName(name);
    s->setName(legend);
    s->setMarkerShape(shape);
    s->setMarkerSize(9);
    s->setPen(QPen(color, 1.6));
    s->setBrush(filled ? QBrush(color) : QBrush(Qt::white));
    return s;
}

// An axis range that starts and ends on whole steps, so that every tick falls on a round
// hour or a midnight: steps from an hour to a year, at most eight of them.
struct TimeScale {
    QDateTime min, max;
    int ticks = 2;
    QString format;
    QString title;
};

TimeScale chooseTimeScale(const QDateTime& first, const QDateTime& last) {
    constexpr qint64 hour = 3600, day = 24 * hour, year = 364 * day;
    static const qint64 steps[] = {hour,     2 * hour, 3 * hour,  6 * hour, 12 * hour,
                                   day,      2 * day,  7 * day,   14 * day, 28 * day,
                                   56 * day, 91 * day, 182 * day, year,     2 * year};
    constexpr qint64 maxSteps = 8;
    const qint64 span = std::max<qint64>(first.secsTo(last), 1);
    qint64 step = (span / (maxSteps - 1) / year + 1) * year; // past the table: whole years
    for (qint64 s : steps) {
        if ((span + s - 1) / s <= maxSteps - 1) { // room for the alignment below
            step = s;
            break;
        }
    }

    TimeScale t;
    const QDate d = first.date();
    if (step < day) {
        const int stepHours = static_cast<int>(step / hour);
        t.min = QDateTime(d, QTime(first.time().hour() / stepHours * stepHours, 0));
    } else if (step % (7 * day) == 0) {
        t.min = QDateTime(d.addDays(1 - d.dayOfWeek()), QTime(0, 0)); // the Monday before
    } else {
        t.min = QDateTime(d, QTime(0, 0));
    }
    // A point on the frame would be cut in half: give it a step of room.
    if (t.min == first)
        t.min = t.min.addSecs(-step);
    qint64 count = (t.min.secsTo(last) + step - 1) / step;
    if (t.min.addSecs(count * step) == last)
        ++count;
    t.max = t.min.addSecs(count * step);
    t.ticks = static_cast<int>(count + 1);

    const bool oneYear = t.min.date().year() == t.max.date().year();
    if (step < day)
        t.format = QStringLiteral("M/d H:mm");
    else if (oneYear && step < 28 * day)
        t.format = QStringLiteral("M/d");
    else
        t.format = QStringLiteral("yyyy/M/d");
    t.title = oneYear && !t.format.startsWith(QLatin1String("yyyy"))
                  ? QStringLiteral("測定日時（%1年）").arg(t.min.date().year())
                  : QStringLiteral("測定日時");
    return t;
}

// 0 up to a little above the top value in steps of 1, 2, 2.5 or 5 times a power of ten,
// about five of them.
struct MbpsScale {
    double max = 1;
    int ticks = 2;
    int decimals = 0;
};

MbpsScale chooseMbpsScale(double top) {
    MbpsScale m;
    if (!(top > 0))
        top = 1;
    const double rough = top * 1.05 / 5;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = 10 * power;
    for (double f : {1.0, 2.0, 2.5, 5.0}) {
        if (f * power >= rough) {
            step = f * power;
            break;
        }
    }
    const int steps = static_cast<int>(std::ceil(top * 1.05 / step - 1e-9));
    m.max = steps * step;
    m.ticks = steps + 1;
    m.decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 3);
    const double scaled = step * std::pow(10.0, m.decimals);
    if (std::abs(scaled - std::round(scaled)) > 1e-6)
        ++m.decimals; // 2.5 and 0.25 need one more
    return m;
}

QString hostCaption(const QString& host) {
    return host.isEmpty() ? kNoHost : host;
}

// History text comes from a file anyone can edit: a tooltip shows it as the text it is. Qt
// takes a text that looks like markup for rich text, so such a text goes out escaped.
QString plainTooltip(const QString& text) {
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

void showInLegend(QChart* chart, QAbstractSeries* series, bool shown) {
    for (QLegendMarker* m : chart->legend()->markers(series))
        m->setVisible(shown);
}

// The key that ties a history line to its journal reading: the kind and the start second
// (the history line shows the start to the second, the record to the millisecond).
QString readingKey(MeasurementKind kind, const QDateTime& started) {
    return MeasurementKindName(kind) + QLatin1Char('@') +
           QString::number(started.toSecsSinceEpoch());
}

MeasurementKind measurementKindOf(HistoryKind kind) {
    switch (kind) {
    case HistoryKind::Download:
        return MeasurementKind::Download;
    case HistoryKind::Upload:
        return MeasurementKind::Upload;
    case HistoryKind::UploadHttp:
        break;
    }
    return MeasurementKind::UploadHttp;
}

QComboBox* labelledBox(QWidget* parent, QHBoxLayout* bar, const char* name, const QString& label,
                       const QStringList& items) {
    auto* caption = new QLabel(label, parent);
    bar->addWidget(caption);
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->addItems(items);
    caption->setBuddy(box);
    bar->addWidget(box);
    return box;
}

QValueAxis* valueAxis(const char* name, const QString& title) {
    auto* axis = new QValueAxis;
    axis->setObjectName(QString::fromLatin1(name));
    axis->setTitleText(title);
    axis->setLabelsFont(PixelFont(kGothic, 12));
    axis->setTitleFont(PixelFont(kGothic, 12));
    return axis;
}

// The days of the period box's entries: 7, 30, all.
constexpr int kPeriodDays[] = {7, 30, 0};
} // namespace

TForm7::TForm7(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("測定履歴のグラフ"));
    setFont(PixelFont(kGothic, 12));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);
    resize(760, 500);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);

    auto* bar = new QHBoxLayout;
    ViewBox = labelledBox(this, bar, "ViewBox", QStringLiteral("表示(&V)"),
                          {QStringLiteral("日時順"), QStringLiteral("時間帯別")});
    ViewBox->setToolTip(QStringLiteral("「時間帯別」は時刻ごとの平均と範囲を IPv4・IPv6 "
                                       "別に表示します"));
    PeriodBox = labelledBox(
        this, bar, "PeriodBox", QStringLiteral("期間(&P)"),
        {QStringLiteral("直近7日"), QStringLiteral("直近30日"), QStringLiteral("すべて")});
    auto* hostLabel = new QLabel(QStringLiteral("ホスト"), this);
    bar->addWidget(hostLabel);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    ComboBox1->setMinimumContentsLength(16);
    ComboBox1->setToolTip(QStringLiteral("ダウンロードを表示するホスト"));
    hostLabel->setBuddy(ComboBox1);
    bar->addWidget(ComboBox1);
    bar->addStretch(1);
    Button1 = new QPushButton(QStringLiteral("画像として保存…"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    bar->addWidget(Button1);
    layout->addLayout(bar);

    Chart1 = new QChart;
    Chart1->setObjectName(QStringLiteral("Chart1"));
    Chart1->setAnimationOptions(QChart::NoAnimation);
    Chart1->setMargins(QMargins(4, 4, 4, 4));
    Chart1->legend()->setAlignment(Qt::AlignRight);
    Chart1->legend()->setFont(PixelFont(kGothic, 12));
    Chart1->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);

    AxisTime = new QDateTimeAxis;
    AxisTime->setObjectName(QStringLiteral("AxisTime"));
    AxisTime->setLabelsFont(PixelFont(kGothic, 12));
    AxisTime->setTitleFont(PixelFont(kGothic, 12));
    AxisMbps = new QValueAxis;
    AxisMbps->setObjectName(QStringLiteral("AxisMbps"));
    AxisMbps->setTitleText(QStringLiteral("Mbps"));
    AxisMbps->setLabelsFont(PixelFont(kGothic, 12));
    AxisMbps->setTitleFont(PixelFont(kGothic, 12));
    Chart1->addAxis(AxisTime, Qt::AlignBottom);
    Chart1->addAxis(AxisMbps, Qt::AlignLeft);

    DownloadSeries = scatter(QStringLiteral("DownloadSeries"), QStringLiteral("ダウンロード"),
                             kDownloadColor, QScatterSeries::MarkerShapeCircle, true);
    Download6Series =
        scatter(QStringLiteral("Download6Series"), QStringLiteral("ダウンロード（IPv6）"),
                kIpv6Color, QScatterSeries::MarkerShapeStar, true);
    Download6Series->setMarkerSize(13);
    MarkedSeries = scatter(QStringLiteral("MarkedSeries"),
                           QStringLiteral("＊ 不安定・中断・小さすぎるファイル"), kDownloadColor,
                           QScatterSeries::MarkerShapeCircle, false);
    UnmeasuredSeries =
        scatter(QStringLiteral("UnmeasuredSeries"), QStringLiteral("＊＊ 接続時間を測れなかった"),
                kDownloadColor, QScatterSeries::MarkerShapeRectangle, false);
    UploadSeries = scatter(QStringLiteral("UploadSeries"), QStringLiteral("アップロード"),
                           kUploadColor, QScatterSeries::MarkerShapeTriangle, true);
    HttpUploadSeries =
        scatter(QStringLiteral("HttpUploadSeries"), QStringLiteral("HTTPアップロード"),
                kHttpUploadColor, QScatterSeries::MarkerShapeRotatedRectangle, true);
    LineDownloadSeries =
        scatter(QStringLiteral("LineDownloadSeries"), LineTestSideName(LineTestSide::Download),
                kLineDownloadColor, QScatterSeries::MarkerShapePentagon, true);
    LineUploadSeries =
        scatter(QStringLiteral("LineUploadSeries"), LineTestSideName(LineTestSide::Upload),
                kLineUploadColor, QScatterSeries::MarkerShapePentagon, false);
    MeanSeries = new QLineSeries;
    MeanSeries->setObjectName(QStringLiteral("MeanSeries"));
    MeanSeries->setName(QStringLiteral("直近%1回の移動平均（＊なし）").arg(kMovingMeanCount));
    MeanSeries->setPen(QPen(kMeanColor, 2));
    RecordSeries = new QLineSeries;
    RecordSeries->setObjectName(QStringLiteral("RecordSeries"));
    RecordSeries->setPen(QPen(kRecordColor, 1.5, Qt::DashLine));

    // The mean and the record first, so that the points are drawn over them.
    for (QAbstractSeries* s : std::initializer_list<QAbstractSeries*>{
             RecordSeries, MeanSeries, DownloadSeries, Download6Series, MarkedSeries,
             UnmeasuredSeries, UploadSeries, HttpUploadSeries, LineDownloadSeries,
             LineUploadSeries}) {
        Chart1->addSeries(s);
        s->attachAxis(AxisTime);
        s->attachAxis(AxisMbps);
    }
    for (QScatterSeries* s :
         {DownloadSeries, Download6Series, MarkedSeries, UnmeasuredSeries, UploadSeries,
          HttpUploadSeries, LineDownloadSeries, LineUploadSeries}) {
        connect(s, &QScatterSeries::hovered, this,
                [this, s](const QPointF& point, bool state) { ShowPointLine(s, point, state); });
    }

    Stack1 = new QStackedWidget(this);
    Stack1->setObjectName(QStringLiteral("Stack1"));
    ChartView1 = new QChartView(Chart1, Stack1);
    ChartView1->setAccessibleName(QStringLiteral("測定履歴のグラフ"));
    ChartView1->setObjectName(QStringLiteral("ChartView1"));
    ChartView1->setRenderHint(QPainter::Antialiasing);
    ChartView1->setMinimumSize(360, 240);
    Label1 = new QLabel(Stack1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    HourChart = new QChart;
    HourChart->setObjectName(QStringLiteral("HourChart"));
    HourChart->setAnimationOptions(QChart::NoAnimation);
    HourChart->setMargins(QMargins(4, 4, 4, 4));
    HourChart->legend()->setAlignment(Qt::AlignRight);
    HourChart->legend()->setFont(PixelFont(kGothic, 12));
    HourChart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    AxisHour = valueAxis("AxisHour", QStringLiteral("測定開始の時刻（時）"));
    AxisHour->setRange(-0.5, 23.5);
    AxisHour->setTickType(QValueAxis::TicksDynamic);
    AxisHour->setTickAnchor(0);
    AxisHour->setTickInterval(3);
    AxisHour->setMinorTickCount(2);
    AxisHour->setLabelFormat(QStringLiteral("%.0f"));
    AxisHourMbps = valueAxis("AxisHourMbps", QStringLiteral("Mbps"));
    HourChart->addAxis(AxisHour, Qt::AlignBottom);
    HourChart->addAxis(AxisHourMbps, Qt::AlignLeft);
    HourMean4Series = scatter(QStringLiteral("HourMean4Series"), QStringLiteral("IPv4 平均"),
                              kIpv4Color, QScatterSeries::MarkerShapeCircle, true);
    HourMean6Series = scatter(QStringLiteral("HourMean6Series"), QStringLiteral("IPv6 平均"),
                              kIpv6Color, QScatterSeries::MarkerShapeRectangle, false);
    for (QScatterSeries* s : {HourMean4Series, HourMean6Series}) {
        s->setMarkerSize(11);
        HourChart->addSeries(s);
        s->attachAxis(AxisHour);
        s->attachAxis(AxisHourMbps);
        connect(s, &QScatterSeries::hovered, this,
                [this, s](const QPointF& point, bool state) { ShowHourTip(s, point, state); });
    }
    HourView1 = new QChartView(HourChart, Stack1);
    HourView1->setObjectName(QStringLiteral("HourView1"));
    HourView1->setAccessibleName(QStringLiteral("時間帯別のグラフ"));
    HourView1->setRenderHint(QPainter::Antialiasing);
    HourView1->setMinimumSize(360, 240);

    Stack1->addWidget(ChartView1);
    Stack1->addWidget(Label1);
    Stack1->addWidget(HourView1);
    layout->addWidget(Stack1, 1);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setWordWrap(true);
    layout->addWidget(Label2);

    connect(Button1, &QPushButton::clicked, this, &TForm7::Button1Click);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TForm7::ComboBox1Change);
    connect(ViewBox, &QComboBox::currentIndexChanged, this, &TForm7::ShowView);
    connect(PeriodBox, &QComboBox::currentIndexChanged, this, &TForm7::ShowView);
    PeriodBox->setEnabled(false); // until the hour view is chosen

    HistoryChanged();
}

void TForm7::SetHistoryModel(QAbstractItemModel* model) {
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    m_lines.clear();
    if (model) {
        // Lines are only ever added, removed or all cleared; each change redraws the lot,
        // which for a few hundred lines costs less than keeping points in step.
        connect(model, &QAbstractItemModel::rowsInserted, this, &TForm7::HistoryChanged);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &TForm7::HistoryChanged);
        connect(model, &QAbstractItemModel::rowsMoved, this, &TForm7::HistoryChanged);
        connect(model, &QAbstractItemModel::modelReset, this, &TForm7::HistoryChanged);
        connect(model, &QAbstractItemModel::dataChanged, this, &TForm7::HistoryChanged);
        connect(model, &QAbstractItemModel::layoutChanged, this, &TForm7::HistoryChanged);
    }
    HistoryChanged();
}

void TForm7::SetHistory(const QStringList& lines) {
    SetHistoryModel(nullptr);
    m_lines = lines;
    HistoryChanged();
}

void TForm7::SetFastestRecord(bool shown, const QString& mbpsText) {
    m_recordShown = shown;
    m_recordMbps = mbpsText;
    Redraw();
}

QStringList TForm7::CurrentLines() const {
    if (!m_model)
        return m_lines;
    QStringList lines;
    const int rows = m_model->rowCount();
    lines.reserve(rows);
    for (int row = 0; row < rows; ++row)
        lines << m_model->index(row, 0).data(Qt::DisplayRole).toString();
    return lines;
}

void TForm7::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ReloadJournal();
}

void TForm7::ReloadJournal() {
    ReadJournal();
    Redraw();
}

void TForm7::ReadJournal() {
    const JournalRead read = ResultsJournal().Read();
    m_lineTests = ReadLineTestPoints(read.records);
    m_journalDamaged = read.damaged + m_lineTests.unusable;
    m_journalProblem = read.message;
    m_readings = ReadFamilyReadings(read.records);
    m_readingOf.clear();
    for (const FamilyReading& r : m_readings)
        m_readingOf.insert(readingKey(r.kind, r.started), r);
}

void TForm7::HistoryChanged() {
    m_parsed = ParseHistory(CurrentLines());
    ReadJournal();
    UpdateHostFilter();
    Redraw();
}

void TForm7::UpdateHostFilter() {
    QStringList hosts;
    for (const HistoryRecord& r : m_parsed.records) {
        if (r.kind == HistoryKind::Download && !hosts.contains(r.host))
            hosts << r.host;
    }
    hosts.sort();
    const QVariant chosen = ComboBox1->currentData();

    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->clear();
    ComboBox1->addItem(kAllHosts);
    for (const QString& h : hosts)
        ComboBox1->addItem(hostCaption(h), h);
    // A host that has left the history falls back to all hosts.
    const int index = chosen.isValid() ? ComboBox1->findData(chosen) : -1;
    ComboBox1->setCurrentIndex(std::max(index, 0));
}

void TForm7::ComboBox1Change() {
    Redraw();
}

void TForm7::Redraw() {
    const QVariant chosen = ComboBox1->currentData();
    const bool allHosts = !chosen.isValid();
    const QString host = chosen.toString();

    QList<QPointF> download, download6, marked, unmeasured, upload, httpUpload;
    const bool bothFamilies = BothFamilies(m_readings);
    m_downloadLines.clear();
    m_download6Lines.clear();
    m_markedLines.clear();
    m_unmeasuredLines.clear();
    m_uploadLines.clear();
    m_httpUploadLines.clear();
    QList<const HistoryRecord*> clean;
    QDateTime first, last;
    double top = 0;
    int downloads = 0, uploads = 0, httpUploads = 0;

    for (const HistoryRecord& r : m_parsed.records) {
        if (r.kind == HistoryKind::Download && !allHosts && r.host != host)
            continue;
        const QPointF p(static_cast<qreal>(r.started.toMSecsSinceEpoch()), r.mbps);
        QString line = r.Line();
        const auto reading =
            m_readingOf.constFind(readingKey(measurementKindOf(r.kind), r.started));
        const bool ipv6 = reading != m_readingOf.cend() && reading->family == AddressFamily::Ipv6;
        if (reading != m_readingOf.cend())
            line += QStringLiteral("\n%1 %2").arg(FamilyCaption(reading->family), reading->address);
        if (r.kind == HistoryKind::Upload) {
            upload << p;
            m_uploadLines << line;
            ++uploads;
        } else if (r.kind == HistoryKind::UploadHttp) {
            httpUpload << p;
            m_httpUploadLines << line;
            ++httpUploads;
        } else {
            ++downloads;
            if (r.mark == 0 && bothFamilies && ipv6) {
                download6 << p;
                m_download6Lines << line;
                clean << &r;
            } else if (r.mark == 0) {
                download << p;
                m_downloadLines << line;
                clean << &r;
            } else if (r.mark == 1) {
                marked << p;
                m_markedLines << line;
            } else {
                unmeasured << p;
                m_unmeasuredLines << line;
            }
        }
        if (!first.isValid() || r.started < first)
            first = r.started;
        if (!last.isValid() || r.started > last)
            last = r.started;
        top = std::max(top, r.mbps);
    }
    DownloadSeries->replace(download);
    Download6Series->replace(download6);
    // Downloads without a record of their family come from before the choice: IPv4 only.
    DownloadSeries->setName(bothFamilies ? QStringLiteral("ダウンロード（IPv4）")
                                         : QStringLiteral("ダウンロード"));
    MarkedSeries->replace(marked);
    UnmeasuredSeries->replace(unmeasured);
    UploadSeries->replace(upload);
    HttpUploadSeries->replace(httpUpload);

    // Line tests name their server, not a download's host: the host filter leaves them be.
    m_lineDownloadTips.clear();
    m_lineUploadTips.clear();
    for (const auto& [direction, tests, series, tips] :
         {std::tuple{LineTestSide::Download, &m_lineTests.download, LineDownloadSeries,
                     &m_lineDownloadTips},
          std::tuple{LineTestSide::Upload, &m_lineTests.upload, LineUploadSeries,
                     &m_lineUploadTips}}) {
        QList<QPointF> points;
        for (const LineTestPoint& t : *tests) {
            points << QPointF(static_cast<qreal>(t.started.toMSecsSinceEpoch()), t.mbps);
            *tips << t.Tip(direction);
            if (!first.isValid() || t.started < first)
                first = t.started;
            if (!last.isValid() || t.started > last)
                last = t.started;
            top = std::max(top, t.mbps);
        }
        series->replace(points);
    }
    const int lineTests = m_lineTests.tests;

    // The mean of each clean download with the clean ones before it, in time order, once
    // there are enough of them.
    std::stable_sort(
        clean.begin(), clean.end(),
        [](const HistoryRecord* a, const HistoryRecord* b) { return a->started < b->started; });
    QList<QPointF> mean;
    double sum = 0;
    for (qsizetype i = 0; i < clean.size(); ++i) {
        sum += clean[i]->mbps;
        if (i >= kMovingMeanCount)
            sum -= clean[i - kMovingMeanCount]->mbps;
        if (i >= kMovingMeanCount - 1)
            mean << QPointF(static_cast<qreal>(clean[i]->started.toMSecsSinceEpoch()),
                            sum / kMovingMeanCount);
    }
    MeanSeries->replace(mean);

    const int shown =
        downloads + uploads + httpUploads + LineDownloadSeries->count() + LineUploadSeries->count();
    if (m_parsed.records.isEmpty() && lineTests == 0) {
        Label1->setText(m_parsed.skipped == 0
                            ? QStringLiteral("測定履歴がありません。")
                            : QStringLiteral("グラフにできる測定履歴がありません。\n"
                                             "読み取れない行が%1行あります。")
                                  .arg(m_parsed.skipped));
        Stack1->setCurrentWidget(Label1);
        Button1->setEnabled(false);
    } else {
        Stack1->setCurrentWidget(ChartView1);
        Button1->setEnabled(true);
    }
    QString counts =
        QStringLiteral("ダウンロード %1件　アップロード %2件").arg(downloads).arg(uploads);
    if (httpUploads > 0)
        counts += QStringLiteral("　HTTPアップロード %1件").arg(httpUploads);
    if (m_parsed.skipped > 0)
        counts +=
            QStringLiteral("　（読み取れない%1行はグラフに含めていません）").arg(m_parsed.skipped);
    if (lineTests > 0)
        counts += QStringLiteral("　回線品質 %1件").arg(lineTests);
    if (m_journalDamaged > 0)
        counts += QStringLiteral("　（測定結果の記録の読み取れない%1行はグラフに含めていません）")
                      .arg(m_journalDamaged);
    if (!m_journalProblem.isEmpty())
        counts += QStringLiteral("\n") + m_journalProblem;
    Label2->setText(counts);

    bool recordOk = false;
    const double record = m_recordMbps.toDouble(&recordOk);
    const bool recordShown = m_recordShown && recordOk && record > 0 && shown > 0;
    top = std::max(top, recordShown ? record : 0.0);

    if (shown > 0) {
        const TimeScale t = chooseTimeScale(first, last);
        AxisTime->setRange(t.min, t.max);
        AxisTime->setTickCount(t.ticks);
        AxisTime->setFormat(t.format);
        AxisTime->setTitleText(t.title);
    }
    const MbpsScale m = chooseMbpsScale(top);
    AxisMbps->setRange(0, m.max);
    AxisMbps->setTickCount(m.ticks);
    AxisMbps->setLabelFormat(QStringLiteral("%.%1f").arg(m.decimals));

    if (recordShown) {
        // The legend draws its names as markup.
        RecordSeries->setName(QStringLiteral("最速記録 %1 Mbps").arg(m_recordMbps.toHtmlEscaped()));
        RecordSeries->replace({QPointF(AxisTime->min().toMSecsSinceEpoch(), record),
                               QPointF(AxisTime->max().toMSecsSinceEpoch(), record)});
    } else {
        RecordSeries->clear();
    }

    for (QAbstractSeries* s : Chart1->series()) {
        const auto* xy = static_cast<QXYSeries*>(s);
        showInLegend(Chart1, s, xy->count() > 0);
    }
    if (ViewBox->currentIndex() == 1)
        RedrawHours();
}

void TForm7::ShowView() {
    const bool hours = ViewBox->currentIndex() == 1;
    ComboBox1->setEnabled(!hours);
    PeriodBox->setEnabled(hours);
    Redraw();
}

void TForm7::RedrawHours() {
    const int days = kPeriodDays[std::clamp(PeriodBox->currentIndex(), 0, 2)];
    m_hourBuckets = HourOfDayBuckets(m_readings, QDateTime::currentDateTime(), days);

    for (QLineSeries* range : HourRangeSeries) {
        HourChart->removeSeries(range);
        delete range;
    }
    HourRangeSeries.clear();
    QList<QPointF> means4, means6;
    double top = 0;
    bool named4 = false, named6 = false;
    for (const HourBucket& b : m_hourBuckets) {
        const bool v6 = b.family == AddressFamily::Ipv6;
        const double x = b.hour + (v6 ? kHourOffset : -kHourOffset);
        (v6 ? means6 : means4) << QPointF(x, b.meanMbps);
        top = std::max(top, b.maxMbps);
        // The range as a line from the lowest to the highest reading; the family's pen tells
        // it apart without its colour.
        auto* range = new QLineSeries;
        range->setObjectName(QStringLiteral("HourRangeSeries"));
        range->setPen(
            QPen(v6 ? kIpv6Color : kIpv4Color, 2, v6 ? Qt::DashLine : Qt::SolidLine, Qt::FlatCap));
        range->setName(QStringLiteral("%1 最小〜最大").arg(FamilyCaption(b.family)));
        range->replace({QPointF(x, b.minMbps), QPointF(x, b.maxMbps)});
        HourChart->addSeries(range);
        range->attachAxis(AxisHour);
        range->attachAxis(AxisHourMbps);
        bool& named = v6 ? named6 : named4;
        showInLegend(HourChart, range, !named);
        named = true;
        HourRangeSeries << range;
    }
    HourMean4Series->replace(means4);
    HourMean6Series->replace(means6);
    showInLegend(HourChart, HourMean4Series, !means4.isEmpty());
    showInLegend(HourChart, HourMean6Series, !means6.isEmpty());
    const MbpsScale m = chooseMbpsScale(top);
    AxisHourMbps->setRange(0, m.max);
    AxisHourMbps->setTickCount(m.ticks);
    AxisHourMbps->setLabelFormat(QStringLiteral("%.%1f").arg(m.decimals));
    HourChart->setTitle(
        QStringLiteral("時間帯別のダウンロード（%1）").arg(PeriodBox->currentText()));

    if (m_hourBuckets.isEmpty()) {
        Label1->setText(QStringLiteral("この期間には、IPv4・IPv6 の記録があるダウンロードが"
                                       "ありません。"));
        Stack1->setCurrentWidget(Label1);
        Button1->setEnabled(false);
    } else {
        Stack1->setCurrentWidget(HourView1);
        Button1->setEnabled(true);
    }
}

void TForm7::ShowHourTip(QScatterSeries* series, const QPointF& point, bool entered) {
    if (!entered) {
        HourChart->setToolTip(QString());
        QToolTip::hideText();
        return;
    }
    const AddressFamily family =
        series == HourMean6Series ? AddressFamily::Ipv6 : AddressFamily::Ipv4;
    const int hour = static_cast<int>(std::lround(point.x()));
    for (const HourBucket& b : m_hourBuckets) {
        if (b.family != family || b.hour != hour)
            continue;
        const QString tip =
            QStringLiteral("%1　%2時台（%3件）\n平均 %4 Mbps\n最小 %5 Mbps　最大 %6 Mbps")
                .arg(FamilyCaption(family))
                .arg(hour)
                .arg(b.count)
                .arg(FormatFixed(b.meanMbps, 3), FormatFixed(b.minMbps, 3),
                     FormatFixed(b.maxMbps, 3));
        HourChart->setToolTip(tip);
        QToolTip::showText(QCursor::pos(), tip, HourView1);
        return;
    }
}

void TForm7::ShowPointLine(QScatterSeries* series, const QPointF& point, bool entered) {
    // The chart carries the text while the pointer is on the point: the view's own tooltip
    // handling would otherwise hide a text shown directly.
    if (!entered) {
        Chart1->setToolTip(QString());
        QToolTip::hideText();
        return;
    }
    const QVector<QString>& lines = series == DownloadSeries       ? m_downloadLines
                                    : series == Download6Series    ? m_download6Lines
                                    : series == MarkedSeries       ? m_markedLines
                                    : series == UnmeasuredSeries   ? m_unmeasuredLines
                                    : series == UploadSeries       ? m_uploadLines
                                    : series == LineDownloadSeries ? m_lineDownloadTips
                                    : series == LineUploadSeries   ? m_lineUploadTips
                                                                   : m_httpUploadLines;
    const QList<QPointF> points = series->points();
    qsizetype nearest = -1;
    double best = 0;
    for (qsizetype i = 0; i < points.size() && i < lines.size(); ++i) {
        const double d = std::abs(points[i].x() - point.x()) + std::abs(points[i].y() - point.y());
        if (nearest < 0 || d < best) {
            nearest = i;
            best = d;
        }
    }
    if (nearest < 0)
        return;
    const QString tip = plainTooltip(lines[nearest]);
    Chart1->setToolTip(tip);
    QToolTip::showText(QCursor::pos(), tip, ChartView1);
}

bool TForm7::SaveImage(const QString& path) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QString reason;
    QWidget* view = Stack1->currentWidget() == HourView1 ? HourView1 : ChartView1;
    if (!view->grab().save(&buffer, "PNG"))
        reason = path + QStringLiteral(": PNGを作れませんでした");
    else
        reason = WriteFileAtomically(path, std::string_view(png.constData(), png.size()));
    if (reason.isEmpty())
        return true;
    ShowMessageBox(QStringLiteral("画像を保存できませんでした。\n") + reason, MsgButtons::Ok,
                   MsgIcon::Warning);
    return false;
}

void TForm7::Button1Click() {
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("画像として保存"),
        QDir::current().filePath(QStringLiteral("quillmet-history.png")),
        QStringLiteral("PNG 画像 (*.png)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");
    SaveImage(path);
}
