// The state file: its 18 records, reading with the failure rule, and the atomic write.
#include "core/state/StateFile.h"
#include "core/state/Tpf0.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using tpf0::Tag;

namespace {

const QString SampleUrl = QStringLiteral("http://localhost:8080/qm/qm100K.jpg");

// The window as it stands at start, before the file is read.
StateSnapshot initialSnapshot() {
    StateSnapshot s;
    for (LabelState* url : {&s.Label15, &s.Label31, &s.Label32, &s.Label37, &s.Label38})
        *url = {SampleUrl, 190, false};
    s.Label33 = {QStringLiteral("保存1(&A)"), 52, false};
    s.Label34 = {QStringLiteral("保存2(&B)"), 52, false};
    s.Label35 = {QStringLiteral("保存3(&C)"), 52, false};
    s.Label39 = {QStringLiteral("保存4(&D)"), 52, false};
    s.Label3a = {QStringLiteral("保存5(&G)"), 52, false};
    s.Label41 = {QStringLiteral("最速記録"), 48, false};
    s.Label42 = {QStringLiteral("0"), 6, false};
    s.Label43 = {QStringLiteral("0"), 6, false};
    s.Label44 = {QStringLiteral("false"), 25, false};
    return s;
}

// A window after some use: every stored text differs from its initial value.
StateSnapshot usedSnapshot() {
    StateSnapshot s = initialSnapshot();
    s.Edit3.Text = QStringLiteral("smtp.example.jp");
    s.Edit8.Text = QStringLiteral("taro@example.jp");
    s.Edit7.Text = QStringLiteral("http://localhost:8080/qm/qm1M.jpg");
    s.ListBox1 = {QStringLiteral("localhost:8080,2024/05/01(水) 10:00:00,12,msec,1048576,byte,"
                                 "81920.0,kbps,80.000,Mbps"),
                  QStringLiteral("*localhost:8080,2024/05/02(木) 11:00:00,9,msec,1048576,byte,"
                                 "40960.0,kbps,40.000,Mbps")};
    s.Label15 = {QStringLiteral("http://one.example/a.jpg"), 140, false};
    s.Label31 = {QStringLiteral("http://two.example/b.jpg"), 141, false};
    s.Label32 = {QStringLiteral("http://three.example/c.jpg"), 142, false};
    s.Label37 = {QStringLiteral("http://four.example/d.jpg"), 143, false};
    s.Label38 = {QStringLiteral("http://five.example/e.jpg"), 144, false};
    s.Label33 = {QStringLiteral("one.example(&A)"), 80, false};
    s.Label34 = {QStringLiteral("two.example(&B)"), 81, false};
    s.Label35 = {QStringLiteral("three.example(&C)"), 82, false};
    s.Label39 = {QStringLiteral("four.example(&D)"), 83, false};
    s.Label3a = {QStringLiteral("five.example(&G)"), 84, false};
    s.Label42 = {QStringLiteral("81920.0"), 40, false};
    s.Label43 = {QStringLiteral("80.000"), 30, false};
    return s;
}

std::vector<tpf0::Record> parse(const std::string& data) {
    tpf0::Reader reader(data);
    std::vector<tpf0::Record> records;
    while (!reader.AtEnd())
        records.push_back(reader.ReadRecord());
    return records;
}

// Where each record ends in the file.
std::vector<std::size_t> recordEnds(const std::string& data) {
    tpf0::Reader reader(data);
    std::vector<std::size_t> ends;
    while (!reader.AtEnd()) {
        reader.ReadRecord();
        ends.push_back(reader.Position());
    }
    return ends;
}

const tpf0::Property* find(const tpf0::Record& record, const std::string& name) {
    for (const auto& property : record.properties) {
        if (property.name == name)
            return &property;
    }
    return nullptr;
}

QStringList propertyNames(const tpf0::Record& record) {
    QStringList names;
    for (const auto& property : record.properties)
        names.append(QString::fromStdString(property.name));
    return names;
}

std::string recordBytes(const std::function<void(tpf0::Writer&)>& properties, const char* className,
                        const char* name) {
    tpf0::Writer w;
    w.WriteSignature();
    w.WriteShortString(className);
    w.WriteShortString(name);
    properties(w);
    w.WriteEndMarker();
    w.WriteEndMarker();
    return w.Data();
}

// The file with record `index` replaced.
std::string withRecord(const std::string& file, int index, const std::string& record) {
    const auto ends = recordEnds(file);
    const std::size_t begin = index == 0 ? 0 : ends[std::size_t(index) - 1];
    return file.substr(0, begin) + record + file.substr(ends[std::size_t(index)]);
}

bool writeBytes(const QString& path, const std::string& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(data.data(), qint64(data.size())) == qint64(data.size());
}

std::string readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

// What reading the records 0 .. count-1 of a file written from `loaded` makes of `initial`:
// texts that were stored, hidden controls hidden, the rest as it was; then the failure rule.
StateSnapshot expectAfter(int count, const StateSnapshot& loaded, const StateSnapshot& initial) {
    StateSnapshot expected = initial;
    const auto edit = [&](StateRecord record, EditState StateSnapshot::*member) {
        if (int(record) >= count)
            return;
        if (!(loaded.*member).Text.isEmpty())
            (expected.*member).Text = (loaded.*member).Text;
        if (!(loaded.*member).Visible)
            (expected.*member).Visible = false;
    };
    const auto label = [&](StateRecord record, LabelState StateSnapshot::*member) {
        if (int(record) >= count)
            return;
        if (!(loaded.*member).Caption.isEmpty())
            (expected.*member).Caption = (loaded.*member).Caption;
        if (!(loaded.*member).Visible)
            (expected.*member).Visible = false;
    };
    edit(StateRecord::Edit3, &StateSnapshot::Edit3);
    edit(StateRecord::Edit8, &StateSnapshot::Edit8);
    label(StateRecord::Label15, &StateSnapshot::Label15);
    edit(StateRecord::Edit7, &StateSnapshot::Edit7);
    label(StateRecord::Label31, &StateSnapshot::Label31);
    label(StateRecord::Label32, &StateSnapshot::Label32);
    label(StateRecord::Label33, &StateSnapshot::Label33);
    label(StateRecord::Label34, &StateSnapshot::Label34);
    label(StateRecord::Label35, &StateSnapshot::Label35);
    label(StateRecord::Label37, &StateSnapshot::Label37);
    label(StateRecord::Label38, &StateSnapshot::Label38);
    label(StateRecord::Label39, &StateSnapshot::Label39);
    label(StateRecord::Label3a, &StateSnapshot::Label3a);
    label(StateRecord::Label43, &StateSnapshot::Label43);
    label(StateRecord::Label41, &StateSnapshot::Label41);
    label(StateRecord::Label42, &StateSnapshot::Label42);
    label(StateRecord::Label44, &StateSnapshot::Label44);
    expected.ListBox1.clear();
    expected.Edit7.Visible = true;
    return expected;
}

void compareSnapshots(const StateSnapshot& actual, const StateSnapshot& expected) {
    QCOMPARE(actual.Edit3, expected.Edit3);
    QCOMPARE(actual.Edit8, expected.Edit8);
    QCOMPARE(actual.Edit7, expected.Edit7);
    QCOMPARE(actual.ListBox1, expected.ListBox1);
    QCOMPARE(actual.Label15, expected.Label15);
    QCOMPARE(actual.Label31, expected.Label31);
    QCOMPARE(actual.Label32, expected.Label32);
    QCOMPARE(actual.Label33, expected.Label33);
    QCOMPARE(actual.Label34, expected.Label34);
    QCOMPARE(actual.Label35, expected.Label35);
    QCOMPARE(actual.Label37, expected.Label37);
    QCOMPARE(actual.Label38, expected.Label38);
    QCOMPARE(actual.Label39, expected.Label39);
    QCOMPARE(actual.Label3a, expected.Label3a);
    QCOMPARE(actual.Label41, expected.Label41);
    QCOMPARE(actual.Label42, expected.Label42);
    QCOMPARE(actual.Label43, expected.Label43);
    QCOMPARE(actual.Label44, expected.Label44);
}

} // namespace

namespace QTest {
template <>
char* toString(const EditState& e) {
    return qstrdup(QStringLiteral("{%1, visible %2}").arg(e.Text).arg(e.Visible).toUtf8());
}
template <>
char* toString(const LabelState& l) {
    return qstrdup(QStringLiteral("{%1, width %2, visible %3}")
                       .arg(l.Caption)
                       .arg(l.Width)
                       .arg(l.Visible)
                       .toUtf8());
}
} // namespace QTest

class StateFileTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("qm1.dat")); }

    // Writes `written` through a real file and reads it into the initial window.
    StateSnapshot roundTrip(const StateSnapshot& written, std::string* bytes = nullptr) {
        const auto write = WriteStateFile(path(), written);
        if (!write.ok)
            qFatal("write failed: %s", qPrintable(write.reason));
        if (bytes)
            *bytes = readBytes(path());
        StateSnapshot read = initialSnapshot();
        const auto result = ReadStateFile(path(), read);
        if (result.status != StateReadResult::Status::Read || result.recordsRead != 18)
            qFatal("read failed: %s", qPrintable(result.reason));
        return read;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        QFile::remove(path());
    }

    void workedExampleRecord18() {
        StateSnapshot s = initialSnapshot();
        s.Label44 = {QStringLiteral("false"), 25, false};
        const std::string file = EncodeState(s);
        const QByteArray expected =
            QByteArray::fromHex("54504630"
                                "06544C6162656C"
                                "074C6162656C3434"
                                "044C65667403600103546F700328010557696474680219"
                                "06486569676874020C"
                                "0743617074696F6E060566616C7365"
                                "0756697369626C6508"
                                "0000");
        QCOMPARE(expected.size(), 77);
        QCOMPARE(QByteArray::fromStdString(file).right(77).toHex(), expected.toHex());
        QCOMPARE(recordEnds(file).size(), std::size_t(18));
        QCOMPARE(recordEnds(file)[16], file.size() - 77);
    }

    // Every record: its class, name, bounds and exactly its properties in order.
    void recordsHoldTheirPropertiesInOrder_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("bounds");
        QTest::addColumn<QString>("properties");
        const QString b = "Left Top Width Height ";
        const QString font = "Font.Charset Font.Color Font.Height Font.Name Font.Style ";
        const QString label = b + "Caption Visible";
        const QString recordLabel = b + "Caption " + font + "ParentFont Visible";
        QTest::newRow("Edit3") << 0 << "TEdit"
                               << "Edit3" << QList<int>{8, 24, 161, 21}
                               << b + font + "ImeMode ParentFont TabOrder Text Visible";
        QTest::newRow("Edit8") << 1 << "TEdit"
                               << "Edit8" << QList<int>{184, 24, 161, 21}
                               << b + font +
                                      "ImeMode ParentFont ParentShowHint ShowHint TabOrder "
                                      "Text Visible";
        QTest::newRow("Label15") << 2 << "TLabel"
                                 << "Label15" << QList<int>{120, 56, 140, 12} << label;
        QTest::newRow("Edit7") << 3 << "TEdit"
                               << "Edit7" << QList<int>{8, 24, 337, 21}
                               << b + font + "ImeMode ParentFont TabOrder Text";
        QTest::newRow("ListBox1") << 4 << "TListBox"
                                  << "ListBox1" << QList<int>{8, 344, 569, 73}
                                  << b + "TabStop " + font +
                                         "ItemHeight Items.Strings ParentFont TabOrder";
        QTest::newRow("Label31") << 5 << "TLabel"
                                 << "Label31" << QList<int>{88, 48, 141, 12} << label;
        QTest::newRow("Label32") << 6 << "TLabel"
                                 << "Label32" << QList<int>{56, 48, 142, 12} << label;
        QTest::newRow("Label33") << 7 << "TLabel"
                                 << "Label33" << QList<int>{8, 48, 80, 12} << label;
        QTest::newRow("Label34") << 8 << "TLabel"
                                 << "Label34" << QList<int>{16, 56, 81, 12} << label;
        QTest::newRow("Label35") << 9 << "TLabel"
                                 << "Label35" << QList<int>{64, 48, 82, 12} << label;
        QTest::newRow("Label37") << 10 << "TLabel"
                                 << "Label37" << QList<int>{96, 56, 143, 12} << label;
        QTest::newRow("Label38") << 11 << "TLabel"
                                 << "Label38" << QList<int>{64, 56, 144, 12} << label;
        QTest::newRow("Label39") << 12 << "TLabel"
                                 << "Label39" << QList<int>{72, 56, 83, 12} << label;
        QTest::newRow("Label3a") << 13 << "TLabel"
                                 << "Label3a" << QList<int>{96, 48, 84, 12} << label;
        QTest::newRow("Label43") << 14 << "TLabel"
                                 << "Label43" << QList<int>{472, 292, 30, 12} << recordLabel;
        QTest::newRow("Label41") << 15 << "TLabel"
                                 << "Label41" << QList<int>{408, 250, 48, 12} << recordLabel;
        QTest::newRow("Label42") << 16 << "TLabel"
                                 << "Label42" << QList<int>{472, 250, 40, 12} << recordLabel;
        QTest::newRow("Label44") << 17 << "TLabel"
                                 << "Label44" << QList<int>{352, 296, 25, 12} << label;
    }
    void recordsHoldTheirPropertiesInOrder() {
        QFETCH(int, index);
        QFETCH(QString, className);
        QFETCH(QString, name);
        QFETCH(QList<int>, bounds);
        QFETCH(QString, properties);
        const auto records = parse(EncodeState(usedSnapshot()));
        QCOMPARE(records.size(), std::size_t(18));
        const auto& record = records[std::size_t(index)];
        QCOMPARE(QString::fromStdString(record.className), className);
        QCOMPARE(QString::fromStdString(record.name), name);
        QCOMPARE(QString(StateRecordName(StateRecord(index))), name);
        QCOMPARE(propertyNames(record).join(' '), properties);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(record.properties[std::size_t(i)].value.integer, bounds[i]);
    }

    void layoutValuesOfTheControls() {
        const auto records = parse(EncodeState(usedSnapshot()));
        const auto intOf = [&](int record, const char* name) {
            return find(records[std::size_t(record)], name)->value.integer;
        };
        const auto identOf = [&](int record, const char* name) {
            const auto& value = find(records[std::size_t(record)], name)->value;
            return value.tag == Tag::Ident ? QString::fromStdString(value.bytes) : QString();
        };
        QCOMPARE(intOf(0, "TabOrder"), 12);
        QCOMPARE(intOf(1, "TabOrder"), 13);
        QCOMPARE(intOf(3, "TabOrder"), 0);
        QCOMPARE(intOf(4, "TabOrder"), 7);
        QCOMPARE(intOf(4, "ItemHeight"), 11);
        QCOMPARE(intOf(3, "Font.Height"), -13);
        QCOMPARE(intOf(4, "Font.Height"), -11);
        QCOMPARE(intOf(15, "Font.Height"), -12);
        QCOMPARE(identOf(3, "ImeMode"), "imDisable");
        QCOMPARE(identOf(3, "Font.Charset"), "SHIFTJIS_CHARSET");
        QCOMPARE(identOf(4, "Font.Color"), "clWindowText");
        QCOMPARE(identOf(14, "Font.Color"), "clNavy");
        const auto& fontName = find(records[3], "Font.Name")->value;
        QCOMPARE(fontName.tag, Tag::String);
        QCOMPARE(fontName.bytes.size(), std::size_t(15));
        QCOMPARE(tpf0::TextOf(fontName).value(), QStringLiteral("ＭＳ Ｐゴシック"));
        const auto& style = find(records[3], "Font.Style")->value;
        QCOMPARE(style.tag, Tag::Set);
        QVERIFY(style.members.empty());
        QCOMPARE(find(records[1], "ShowHint")->value.tag, Tag::True);
        QCOMPARE(find(records[1], "ParentShowHint")->value.tag, Tag::False);
        QCOMPARE(find(records[4], "TabStop")->value.tag, Tag::False);
    }

    void usedWindowComesBack() {
        const StateSnapshot used = usedSnapshot();
        const StateSnapshot read = roundTrip(used);
        StateSnapshot expected = used;
        for (LabelState StateSnapshot::*label :
             {&StateSnapshot::Label15, &StateSnapshot::Label31, &StateSnapshot::Label32,
              &StateSnapshot::Label37, &StateSnapshot::Label38, &StateSnapshot::Label33,
              &StateSnapshot::Label34, &StateSnapshot::Label35, &StateSnapshot::Label39,
              &StateSnapshot::Label3a, &StateSnapshot::Label41, &StateSnapshot::Label42,
              &StateSnapshot::Label43, &StateSnapshot::Label44})
            (expected.*label).Width = (initialSnapshot().*label).Width; // the window's own
        compareSnapshots(read, expected);
    }

    void emptyUrlBoxHasNoText() {
        StateSnapshot s = usedSnapshot();
        s.Edit7.Text.clear();
        std::string bytes;
        const StateSnapshot read = roundTrip(s, &bytes);
        QVERIFY(!find(parse(bytes)[3], "Text"));
        QCOMPARE(read.Edit7.Text, QString());
        QCOMPARE(read.Edit3.Text, s.Edit3.Text);
    }

    void emptyHistoryHasNoItems() {
        StateSnapshot s = usedSnapshot();
        s.ListBox1.clear();
        std::string bytes;
        StateSnapshot start = initialSnapshot();
        QVERIFY(WriteStateFile(path(), s).ok);
        bytes = readBytes(path());
        QVERIFY(!find(parse(bytes)[4], "Items.Strings"));
        start.ListBox1 = {QStringLiteral("stale")}; // absent entry: the list stays as it is
        QVERIFY(!ReadStateFile(path(), start).failed());
        QCOMPARE(start.ListBox1, QStringList{QStringLiteral("stale")});
        QCOMPARE(roundTrip(s).ListBox1, QStringList());
    }

    // Tag 6 or 12 by the line's CP932 byte length, not by its UTF-8 length.
    void historyLinesByTheirCp932Length_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("tag");
        const QString kana = QStringLiteral("測");
        QTest::newRow("255 bytes") << kana.repeated(127) + "," << 6;
        QTest::newRow("256 bytes") << kana.repeated(128) << 12;
        QTest::newRow("256 ascii") << QString(256, 'x') << 12;
        QTest::newRow("100 KiB") << QString(100 * 1024, 'y') << 12;
        QTest::newRow("empty line") << QString() << 6;
        QTest::newRow("emoji") << QStringLiteral("\U0001F680 fast") << 18;
    }
    void historyLinesByTheirCp932Length() {
        QFETCH(QString, line);
        QFETCH(int, tag);
        StateSnapshot s = usedSnapshot();
        s.ListBox1 = {QStringLiteral("first"), line, QStringLiteral("last")};
        std::string bytes;
        const StateSnapshot read = roundTrip(s, &bytes);
        const auto records = parse(bytes);
        const auto* items = find(records[4], "Items.Strings");
        QVERIFY(items);
        QCOMPARE(items->value.tag, Tag::List);
        QCOMPARE(items->value.items.size(), std::size_t(3));
        QCOMPARE(int(items->value.items[1].tag), tag);
        QCOMPARE(read.ListBox1, s.ListBox1);
    }

    void japaneseTextComesBack() {
        StateSnapshot s = usedSnapshot();
        s.Edit7.Text = QStringLiteral("http://例え.テスト/画像①ⅰ纊\\~.jpg");
        s.Edit8.Text = QStringLiteral("太郎@example.jp");
        s.Label33.Caption = QStringLiteral("例え.テスト(&A)");
        s.ListBox1 = {QStringLiteral("**例え.テスト,2024/05/01(水) 10:00:00,12,msec")};
        std::string bytes;
        const StateSnapshot read = roundTrip(s, &bytes);
        QCOMPARE(find(parse(bytes)[3], "Text")->value.tag, Tag::String);
        QCOMPARE(read.Edit7.Text, s.Edit7.Text);
        QCOMPARE(read.Edit8.Text, s.Edit8.Text);
        QCOMPARE(read.Label33.Caption, s.Label33.Caption);
        QCOMPARE(read.ListBox1, s.ListBox1);
    }

    void textCp932CannotHoldSurvivesAsWideString() {
        StateSnapshot s = usedSnapshot();
        s.Edit7.Text = QStringLiteral("http://localhost/\U0001F600.jpg");
        s.Label42.Caption = QStringLiteral("\u00A5100"); // would come back as "\100"
        std::string bytes;
        const StateSnapshot read = roundTrip(s, &bytes);
        QCOMPARE(find(parse(bytes)[3], "Text")->value.tag, Tag::WString);
        QCOMPARE(find(parse(bytes)[16], "Caption")->value.tag, Tag::WString);
        QCOMPARE(read.Edit7.Text, s.Edit7.Text);
        QCOMPARE(read.Label42.Caption, s.Label42.Caption);
    }

    void closedInUploadMode() {
        StateSnapshot s = usedSnapshot();
        s.Edit7.Visible = false; // the SMTP fields are shown instead
        s.Edit3.Visible = true;
        s.Edit8.Visible = true;
        std::string bytes;
        const StateSnapshot read = roundTrip(s, &bytes);
        const auto records = parse(bytes);
        QCOMPARE(find(records[3], "Visible")->value.tag, Tag::False);
        QVERIFY(!find(records[0], "Visible"));
        QVERIFY(!find(records[1], "Visible"));
        // Next start: download mode, the URL box shown with its URL, the SMTP fields hidden.
        QCOMPARE(read.Edit7, (EditState{s.Edit7.Text, true}));
        QCOMPARE(read.Edit3, (EditState{s.Edit3.Text, false}));
        QCOMPARE(read.Edit8, (EditState{s.Edit8.Text, false}));
    }

    void closedInDownloadMode() {
        std::string bytes;
        const StateSnapshot read = roundTrip(usedSnapshot(), &bytes);
        const auto records = parse(bytes);
        QVERIFY(!find(records[3], "Visible"));
        QCOMPARE(find(records[0], "Visible")->value.tag, Tag::False);
        QCOMPARE(find(records[1], "Visible")->value.tag, Tag::False);
        QVERIFY(read.Edit7.Visible);
        QVERIFY(!read.Edit3.Visible);
    }

    void recordDisplay_data() {
        QTest::addColumn<bool>("on");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void recordDisplay() {
        QFETCH(bool, on);
        StateSnapshot s = usedSnapshot();
        s.Label41.Visible = s.Label42.Visible = s.Label43.Visible = on;
        s.Label44.Caption = on ? QStringLiteral("true") : QStringLiteral("false");
        std::string bytes;
        const StateSnapshot read = roundTrip(s, &bytes);
        const auto records = parse(bytes);
        for (int index : {14, 15, 16}) {
            const auto* visible = find(records[std::size_t(index)], "Visible");
            if (on)
                QVERIFY(!visible);
            else
                QCOMPARE(visible->value.tag, Tag::False);
        }
        QCOMPARE(find(records[17], "Visible")->value.tag, Tag::False);
        QCOMPARE(read.Label44.Caption, s.Label44.Caption);
        QCOMPARE(read.Label42.Caption, s.Label42.Caption);
        QCOMPARE(read.Label43.Caption, s.Label43.Caption);
        QVERIFY(!read.Label41.Visible); // as the window defines it; the start-up follows Label44
    }

    void emptyCaptionIsLeftOut() {
        StateSnapshot s = usedSnapshot();
        s.Label33.Caption.clear();
        std::string bytes;
        const StateSnapshot read = roundTrip(s, &bytes);
        QVERIFY(!find(parse(bytes)[7], "Caption"));
        QCOMPARE(read.Label33.Caption, initialSnapshot().Label33.Caption);
    }

    void relativeNameResolvesInTheCurrentDirectory() {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const auto write = WriteStateFile(StateFileName, usedSnapshot());
        StateSnapshot read = initialSnapshot();
        const auto result = ReadStateFile(StateFileName, read);
        QVERIFY(QDir::setCurrent(before));
        QVERIFY2(write.ok, qPrintable(write.reason));
        QVERIFY(QFile::exists(path()));
        QCOMPARE(result.status, StateReadResult::Status::Read);
        QCOMPARE(read.Edit7.Text, usedSnapshot().Edit7.Text);
    }

    void missingFileLeavesEverything() {
        StateSnapshot read = initialSnapshot();
        read.Edit7.Visible = false;
        read.ListBox1 = {QStringLiteral("kept")};
        const StateSnapshot before = read;
        const auto result = ReadStateFile(path(), read);
        QCOMPARE(result.status, StateReadResult::Status::Missing);
        QCOMPARE(result.recordsRead, 0);
        QVERIFY(read == before);
    }

    // A file cut inside the history: the four records before it come back, the rest initial.
    void fileCutInsideTheHistory() {
        const StateSnapshot used = usedSnapshot();
        const std::string full = EncodeState(used);
        const auto ends = recordEnds(full);
        const std::size_t cut = ends[3] + (ends[4] - ends[3]) * 3 / 4;
        QVERIFY(
            QByteArray::fromStdString(full.substr(ends[3], cut - ends[3])).contains("2024/05/01"));
        QVERIFY(writeBytes(path(), full.substr(0, cut)));

        StateSnapshot read = initialSnapshot();
        read.ListBox1 = {QStringLiteral("emptied on failure")};
        const auto result = ReadStateFile(path(), read);
        QCOMPARE(result.status, StateReadResult::Status::Failed);
        QCOMPARE(result.recordsRead, 4);
        QVERIFY2(result.reason.contains("ListBox1"), qPrintable(result.reason));
        QCOMPARE(read.Edit3.Text, used.Edit3.Text);
        QCOMPARE(read.Edit8.Text, used.Edit8.Text);
        QCOMPARE(read.Label15.Caption, used.Label15.Caption);
        QCOMPARE(read.Edit7.Text, used.Edit7.Text);
        QCOMPARE(read.ListBox1, QStringList());
        compareSnapshots(read, expectAfter(4, used, initialSnapshot()));
    }

    // Every cut: whole records before it apply, nothing after, never a success or a crash.
    void everyTruncationFailsAtItsRecord() {
        StateSnapshot used = usedSnapshot();
        used.Edit7.Visible = false;
        used.ListBox1.append(QString(300, 'L'));
        const std::string full = EncodeState(used);
        const auto ends = recordEnds(full);
        for (std::size_t length = 0; length < full.size(); ++length) {
            StateSnapshot read = initialSnapshot();
            const auto result = ReadState(std::string_view(full).substr(0, length), read);
            const int whole =
                int(std::upper_bound(ends.begin(), ends.end(), length) - ends.begin());
            QVERIFY(result.failed());
            QCOMPARE(result.recordsRead, whole);
            compareSnapshots(read, expectAfter(whole, used, initialSnapshot()));
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("file cut at %1 bytes").arg(length)));
        }
        StateSnapshot read = initialSnapshot();
        QCOMPARE(ReadState(full, read).status, StateReadResult::Status::Read);
    }

    void damagedFiles_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("reason");
        using W = tpf0::Writer;
        const auto edit7 = [](std::function<void(W&)> f) {
            return QByteArray::fromStdString(recordBytes(f, "TEdit", "Edit7"));
        };
        QTest::newRow("wrong signature, first record") << 0
                                                       << QByteArray("TPF1\x05TEdit\x05"
                                                                     "Edit3\0\0",
                                                                     18)
                                                       << "TPF0";
        QTest::newRow("wrong signature, record 6")
            << 5 << QByteArray("tpf0\x06TLabel\x07Label31\0\0", 21) << "TPF0";
        QTest::newRow("another control's name")
            << 3 << QByteArray::fromStdString(recordBytes([](W&) {}, "TEdit", "Edit3")) << "Edit3";
        QTest::newRow("name in other case")
            << 3 << QByteArray::fromStdString(recordBytes([](W&) {}, "TEdit", "edit7")) << "edit7";
        QTest::newRow("unknown property") << 3 << edit7([](W& w) {
            w.WriteShortString("Color");
            w.WriteIdent("clWindow");
        }) << "Color";
        QTest::newRow("label property on an edit") << 3 << edit7([](W& w) {
            w.WriteShortString("Caption");
            w.WriteText("x");
        }) << "Caption";
        QTest::newRow("text as an integer") << 3 << edit7([](W& w) {
            w.WriteShortString("Text");
            w.WriteInteger(5);
        }) << "Text";
        QTest::newRow("text as an identifier") << 3 << edit7([](W& w) {
            w.WriteShortString("Text");
            w.WriteIdent("http");
        }) << "Text";
        QTest::newRow("visible as a string") << 3 << edit7([](W& w) {
            w.WriteShortString("Visible");
            w.WriteText("false");
        }) << "Visible";
        QTest::newRow("left as a 64-bit integer") << 3 << edit7([](W& w) {
            w.WriteShortString("Left");
            w.WriteInteger(INT64_C(1) << 40);
        }) << "Left";
        QTest::newRow("ime mode as an integer") << 3 << edit7([](W& w) {
            w.WriteShortString("ImeMode");
            w.WriteInteger(3);
        }) << "ImeMode";
        QTest::newRow("font style as a list") << 3 << edit7([](W& w) {
            w.WriteShortString("Font.Style");
            w.WriteListStart();
            w.WriteEndMarker();
        }) << "Font.Style";
        QTest::newRow("unknown tag") << 3
                                     << QByteArray("TPF0\x05TEdit\x05"
                                                   "Edit7\x04Text\x14\0\0",
                                                   24)
                                     << "unknown value tag 20";
        QTest::newRow("end of list for a value") << 3
                                                 << QByteArray("TPF0\x05TEdit\x05"
                                                               "Edit7\x04Text\0\0\0",
                                                               24)
                                                 << "tag 0 where a string";
        QTest::newRow("history as a string") << 4
                                             << QByteArray::fromStdString(recordBytes(
                                                    [](W& w) {
                                                        w.WriteShortString("Items.Strings");
                                                        w.WriteText("one line");
                                                    },
                                                    "TListBox", "ListBox1"))
                                             << "Items.Strings";
        QTest::newRow("history holding a number") << 4
                                                  << QByteArray::fromStdString(recordBytes(
                                                         [](W& w) {
                                                             w.WriteShortString("Items.Strings");
                                                             w.WriteListStart();
                                                             w.WriteText("one line");
                                                             w.WriteInteger(2);
                                                             w.WriteEndMarker();
                                                         },
                                                         "TListBox", "ListBox1"))
                                                  << "Items.Strings";
        QTest::newRow("child component")
            << 17 << QByteArray("TPF0\x06TLabel\x07Label44\0\x06TLabel", 27) << "child";
        QTest::newRow("caption as a set") << 17
                                          << QByteArray::fromStdString(recordBytes(
                                                 [](W& w) {
                                                     w.WriteShortString("Caption");
                                                     w.WriteSet({});
                                                 },
                                                 "TLabel", "Label44"))
                                          << "Caption";
    }
    void damagedFiles() {
        QFETCH(int, index);
        QFETCH(QByteArray, record);
        QFETCH(QString, reason);
        StateSnapshot used = usedSnapshot();
        used.Edit7.Visible = false;
        const std::string file = withRecord(EncodeState(used), index, record.toStdString());
        QVERIFY(writeBytes(path(), file));
        StateSnapshot read = initialSnapshot();
        read.ListBox1 = {QStringLiteral("emptied on failure")};
        const auto result = ReadStateFile(path(), read);
        QCOMPARE(result.status, StateReadResult::Status::Failed);
        QCOMPARE(result.recordsRead, index);
        QVERIFY2(result.reason.contains(reason), qPrintable(result.reason));
        compareSnapshots(read, expectAfter(index, used, initialSnapshot()));
    }

    void classNameIsNotChecked() {
        const StateSnapshot used = usedSnapshot();
        const std::string record = recordBytes(
            [](tpf0::Writer& w) {
                w.WriteShortString("Caption");
                w.WriteText("true");
            },
            "TStaticText", "Label44");
        const std::string file = withRecord(EncodeState(used), 17, record);
        StateSnapshot read = initialSnapshot();
        QCOMPARE(ReadState(file, read).status, StateReadResult::Status::Read);
        QCOMPARE(read.Label44.Caption, QStringLiteral("true"));
    }

    void otherFileProblemsFailCleanly_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("empty file") << "empty";
        QTest::newRow("a directory") << "directory";
        QTest::newRow("an endless device") << "device";
        QTest::newRow("a FIFO nobody writes to") << "fifo";
    }
    void otherFileProblemsFailCleanly() {
        QFETCH(QString, kind);
        if (kind == "directory") {
            QVERIFY(QDir(m_dir.path()).mkdir("qm1.dat"));
        } else if (kind == "device") {
            QVERIFY(QFile::link("/dev/zero", path()));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path()).constData(), 0644), 0);
        } else {
            QFile file(path());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        StateSnapshot read = initialSnapshot();
        read.Edit7.Visible = false;
        read.ListBox1 = {QStringLiteral("emptied on failure")};
        const auto result = ReadStateFile(path(), read);
        if (kind == "directory")
            QVERIFY(QDir(m_dir.path()).rmdir("qm1.dat"));
        else
            QVERIFY(QFile::remove(path()));
        QCOMPARE(result.status, StateReadResult::Status::Failed);
        QCOMPARE(result.recordsRead, 0);
        QVERIFY(!result.reason.isEmpty());
        // Only a regular file holds anything to keep.
        QCOMPARE(result.damaged(), kind == "empty");
        compareSnapshots(read, expectAfter(0, usedSnapshot(), initialSnapshot()));
    }

    // A file over the limit is read as if it ended there: a history that runs past the limit
    // fails as in a cut file, and the records in front come back.
    void oversizedFileIsReadUpToTheLimit() {
        const StateSnapshot used = usedSnapshot();
        std::string front = EncodeState(used);
        front.resize(recordEnds(front)[3]);
        const std::uint32_t length = MaxStateFileSize + 1000; // one line, whole within the file
        front += std::string("TPF0\x08TListBox\x08ListBox1\x0dItems.Strings\x01\x0c") +
                 std::string(reinterpret_cast<const char*>(&length), 4) + "history line";
        QVERIFY(writeBytes(path(), front));
        QVERIFY(QFile::resize(path(), MaxStateFileSize + 4096)); // sparse

        StateSnapshot read = initialSnapshot();
        const auto result = ReadStateFile(path(), read);
        QVERIFY(result.oversized && result.damaged());
        QCOMPARE(result.recordsRead, 4);
        QVERIFY2(result.reason.contains("larger than") && result.reason.contains("ListBox1"),
                 qPrintable(result.reason));
        compareSnapshots(read, expectAfter(4, used, initialSnapshot()));
    }

    void trailingBytesAreIgnored() {
        const std::string file = EncodeState(usedSnapshot()) + "TPF0 and more";
        StateSnapshot read = initialSnapshot();
        const auto result = ReadState(file, read);
        QCOMPARE(result.status, StateReadResult::Status::Read);
        QCOMPARE(read.ListBox1, usedSnapshot().ListBox1);
    }

    // ---- Writing

    void writeReplacesTheFileAndLeavesNothingElse() {
        QVERIFY(writeBytes(path(), "old contents"));
        QVERIFY(
            QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const auto result = WriteStateFile(path(), usedSnapshot());
        QVERIFY2(result.ok, qPrintable(result.reason));
        QVERIFY(result.reason.isEmpty());
        QCOMPARE(readBytes(path()), EncodeState(usedSnapshot()));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"qm1.dat"});
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0640));
    }

    void writeIntoAMissingDirectoryFails() {
        const QString missing = m_dir.filePath("no/such/dir/qm1.dat");
        const auto result = WriteStateFile(missing, usedSnapshot());
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.startsWith(missing + ": "), qPrintable(result.reason));
        QVERIFY2(result.reason.contains("No such file"), qPrintable(result.reason));
    }

    void failedRenameLeavesTheOldAndNoTemporary() {
        // qm1.dat is a directory here, so the rename over it fails after the data is written.
        QVERIFY(QDir(m_dir.path()).mkpath("qm1.dat/inside"));
        const auto result = WriteStateFile(path(), usedSnapshot());
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.startsWith(path()), qPrintable(result.reason));
        QVERIFY(QDir(path()).exists("inside"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(QDir(path()).removeRecursively());
    }

    // A write that runs out of room (here the process's file size limit, as on a full
    // disk) keeps the old file whole.
    void writeThatRunsOutOfRoomKeepsTheOldFile() {
        const std::string old = EncodeState(initialSnapshot());
        QVERIFY(writeBytes(path(), old));
        StateSnapshot big = usedSnapshot();
        big.ListBox1.append(QString(64 * 1024, 'z'));

        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit saved = limit;
        limit.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const auto result = WriteStateFile(path(), big);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!result.ok);
        QVERIFY2(result.reason.contains("File too large"), qPrintable(result.reason));
        QCOMPARE(readBytes(path()), old);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"qm1.dat"});
    }
};

QTEST_GUILESS_MAIN(StateFileTest)
#include "statefile_test.moc"
