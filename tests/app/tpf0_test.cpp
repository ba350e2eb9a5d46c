// The component stream's reader and writer.
#include "core/state/Tpf0.h"

#include <QtTest>

using tpf0::Tag;

namespace {

std::string bytes(const QByteArray& hex) {
    return QByteArray::fromHex(hex).toStdString();
}

QByteArray hexOf(const std::string& data) {
    return QByteArray::fromStdString(data).toHex();
}

tpf0::Value readOne(const std::string& data) {
    tpf0::Reader reader(data);
    auto value = reader.ReadValue();
    if (!reader.AtEnd())
        throw std::runtime_error("value shorter than its data");
    return value;
}

} // namespace

class Tpf0Test : public QObject {
    Q_OBJECT

private slots:
    void integersTakeTheSmallestTag_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("0") << qint64(0) << QByteArray("0200");
        QTest::newRow("127") << qint64(127) << QByteArray("027f");
        QTest::newRow("-128") << qint64(-128) << QByteArray("0280");
        QTest::newRow("128") << qint64(128) << QByteArray("038000");
        QTest::newRow("-129") << qint64(-129) << QByteArray("037fff");
        QTest::newRow("352") << qint64(352) << QByteArray("036001");
        QTest::newRow("-13") << qint64(-13) << QByteArray("02f3");
        QTest::newRow("32767") << qint64(32767) << QByteArray("03ff7f");
        QTest::newRow("-32768") << qint64(-32768) << QByteArray("030080");
        QTest::newRow("32768") << qint64(32768) << QByteArray("0400800000");
        QTest::newRow("int32 max") << qint64(INT32_MAX) << QByteArray("04ffffff7f");
        QTest::newRow("int32 min") << qint64(INT32_MIN) << QByteArray("0400000080");
        QTest::newRow("2^31") << (qint64(1) << 31) << QByteArray("130000008000000000");
        QTest::newRow("int64 min") << qint64(INT64_MIN) << QByteArray("130000000000000080");
    }
    void integersTakeTheSmallestTag() {
        QFETCH(qint64, value);
        QFETCH(QByteArray, hex);
        tpf0::Writer writer;
        writer.WriteInteger(value);
        QCOMPARE(hexOf(writer.Data()), hex);
        const auto read = readOne(writer.Data());
        QVERIFY(tpf0::IsIntegerTag(read.tag));
        QCOMPARE(read.integer, value);
    }

    // The byte length in CP932 decides between tag 6 and 12; what CP932 lacks goes as tag 18.
    void textsByTheirCp932Length_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("tag");
        QTest::addColumn<QByteArray>("head");
        const QString kana = QStringLiteral("あ");
        QTest::newRow("false") << "false" << 6 << QByteArray("0605");
        QTest::newRow("empty") << "" << 6 << QByteArray("0600");
        QTest::newRow("255 ascii") << QString(255, 'a') << 6 << QByteArray("06ff");
        QTest::newRow("256 ascii") << QString(256, 'a') << 12 << QByteArray("0c00010000");
        QTest::newRow("127 kana + 1 = 255 bytes")
            << kana.repeated(127) + "a" << 6 << QByteArray("06ff");
        QTest::newRow("128 kana = 256 bytes")
            << kana.repeated(128) << 12 << QByteArray("0c00010000");
        QTest::newRow("emoji, 2 UTF-16 units")
            << "\U0001F600" << 18 << QByteArray("12020000003dd800de");
        QTest::newRow("yen sign") << "\u00A5" << 18 << QByteArray("1201000000a500");
    }
    void textsByTheirCp932Length() {
        QFETCH(QString, text);
        QFETCH(int, tag);
        QFETCH(QByteArray, head);
        tpf0::Writer writer;
        writer.WriteText(text);
        QVERIFY(hexOf(writer.Data()).startsWith(head));
        const auto read = readOne(writer.Data());
        QCOMPARE(int(read.tag), tag);
        QCOMPARE(tpf0::TextOf(read).value(), text);
        tpf0::Reader reader(writer.Data());
        QCOMPARE(reader.ReadText(reader.ReadTag()), text);
    }

    void namesAndIdentifiersAreCutTo255Bytes() {
        tpf0::Writer writer;
        writer.WriteShortString(std::string(300, 'n'));
        writer.WriteIdent(std::string(256, 'i'));
        QCOMPARE(writer.Data().size(), std::size_t(1 + 255 + 2 + 255));
        tpf0::Reader reader(writer.Data());
        QCOMPARE(reader.ReadShortString(), std::string(255, 'n'));
        const auto ident = reader.ReadValue();
        QCOMPARE(ident.tag, Tag::Ident);
        QCOMPARE(ident.bytes, std::string(255, 'i'));
        QVERIFY(reader.AtEnd());
    }

    void setsAndLists() {
        tpf0::Writer writer;
        const std::string_view style[] = {"fsBold", "", "fsItalic"};
        writer.WriteSet(style);
        writer.WriteListStart();
        writer.WriteText("a");
        writer.WriteBoolean(true);
        writer.WriteEndMarker();
        QCOMPARE(hexOf(writer.Data()), QByteArray("0b06667342"
                                                  "6f6c640866734974616c696300"
                                                  "01060161"
                                                  "0900"));
        tpf0::Reader reader(writer.Data());
        QCOMPARE(reader.ReadValue().members, (std::vector<std::string>{"fsBold", "fsItalic"}));
        const auto list = reader.ReadValue();
        QCOMPARE(list.items.size(), std::size_t(2));
        QCOMPARE(tpf0::TextOf(list.items[0]).value(), QStringLiteral("a"));
        QCOMPARE(list.items[1].tag, Tag::True);
    }

    // The reader knows every tag, so an unexpected one is told apart from damage.
    void readsEveryTag_data() {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<int>("tag");
        QTest::addColumn<qint64>("integer");
        QTest::addColumn<double>("real");
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("list") << QByteArray("01020100") << 1 << 0ll << 0.0 << QByteArray();
        QTest::newRow("int8") << QByteArray("02ff") << 2 << -1ll << 0.0 << QByteArray();
        QTest::newRow("int16") << QByteArray("030080") << 3 << -32768ll << 0.0 << QByteArray();
        QTest::newRow("int32") << QByteArray("0478563412") << 4 << 0x12345678ll << 0.0
                               << QByteArray();
        QTest::newRow("extended 1.0")
            << QByteArray("050000000000000080ff3f") << 5 << 0ll << 1.0 << QByteArray();
        QTest::newRow("extended -2.5")
            << QByteArray("0500000000000000a000c0") << 5 << 0ll << -2.5 << QByteArray();
        QTest::newRow("string") << QByteArray("06026869") << 6 << 0ll << 0.0 << QByteArray("hi");
        QTest::newRow("ident") << QByteArray("0703636c58") << 7 << 0ll << 0.0 << QByteArray("clX");
        QTest::newRow("false") << QByteArray("08") << 8 << 0ll << 0.0 << QByteArray();
        QTest::newRow("true") << QByteArray("09") << 9 << 0ll << 0.0 << QByteArray();
        QTest::newRow("binary") << QByteArray("0a03000000000102") << 10 << 0ll << 0.0
                                << QByteArray::fromHex("000102");
        QTest::newRow("set") << QByteArray("0b01610162"
                                           "00")
                             << 11 << 0ll << 0.0 << QByteArray();
        QTest::newRow("long string")
            << QByteArray("0c020000006869") << 12 << 0ll << 0.0 << QByteArray("hi");
        QTest::newRow("nil") << QByteArray("0d") << 13 << 0ll << 0.0 << QByteArray();
        QTest::newRow("collection")
            << QByteArray("0e01044e616d650601780000") << 14 << 0ll << 0.0 << QByteArray();
        QTest::newRow("single 1.5") << QByteArray("0f0000c03f") << 15 << 0ll << 1.5 << QByteArray();
        QTest::newRow("currency 1.2345")
            << QByteArray("103930000000000000") << 16 << 12345ll << 0.0 << QByteArray();
        QTest::newRow("date 1.0") << QByteArray("11000000000000f03f") << 17 << 0ll << 1.0
                                  << QByteArray();
        QTest::newRow("wide string")
            << QByteArray("1201000000422f") << 18 << 0ll << 0.0 << QByteArray();
        QTest::newRow("int64") << QByteArray("130100000000000000") << 19 << 1ll << 0.0
                               << QByteArray();
    }
    void readsEveryTag() {
        QFETCH(QByteArray, hex);
        QFETCH(int, tag);
        QFETCH(qint64, integer);
        QFETCH(double, real);
        QFETCH(QByteArray, payload);
        const auto value = readOne(bytes(hex));
        QCOMPARE(int(value.tag), tag);
        QCOMPARE(value.integer, integer);
        QCOMPARE(double(value.real), real);
        QCOMPARE(QByteArray::fromStdString(value.bytes), payload);
        switch (value.tag) {
        case Tag::List:
            QCOMPARE(value.items.size(), std::size_t(1));
            QCOMPARE(value.items[0].integer, 1);
            break;
        case Tag::Set:
            QCOMPARE(value.members, (std::vector<std::string>{"a", "b"}));
            break;
        case Tag::Collection:
            QCOMPARE(value.collection.size(), std::size_t(1));
            QCOMPARE(value.collection[0].size(), std::size_t(1));
            QCOMPARE(value.collection[0][0].name, std::string("Name"));
            QCOMPARE(value.collection[0][0].value.bytes, std::string("x"));
            break;
        case Tag::WString:
            QCOMPARE(tpf0::TextOf(value).value(), QStringLiteral("\u2F42"));
            break;
        default:
            break;
        }
    }

    // Damage of every sort ends in EReadError; a length past the end allocates nothing.
    void damagedValuesFailCleanly_data() {
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("nothing") << QByteArray("");
        QTest::newRow("unknown tag 20") << QByteArray("14");
        QTest::newRow("unknown tag 255") << QByteArray("ff");
        QTest::newRow("end of list as a value") << QByteArray("00");
        QTest::newRow("int16 cut") << QByteArray("0301");
        QTest::newRow("int32 cut") << QByteArray("04010203");
        QTest::newRow("int64 cut") << QByteArray("1301020304050607");
        QTest::newRow("extended cut") << QByteArray("05000000000000000080");
        QTest::newRow("string cut") << QByteArray("0605616263");
        QTest::newRow("string without length") << QByteArray("06");
        QTest::newRow("long string 4 GiB") << QByteArray("0cffffffff41");
        QTest::newRow("long string length cut") << QByteArray("0c0100");
        QTest::newRow("binary 2 GiB") << QByteArray("0a00000080");
        QTest::newRow("wide string 4 G units") << QByteArray("12ffffffff4100");
        QTest::newRow("wide string odd byte") << QByteArray("120100000041");
        QTest::newRow("list without end") << QByteArray("010201");
        QTest::newRow("list with unknown tag") << QByteArray("01020114");
        QTest::newRow("set without end") << QByteArray("0b0161");
        QTest::newRow("collection item without list tag") << QByteArray("0e0200");
        QTest::newRow("collection without end") << QByteArray("0e01");
        QTest::newRow("ident cut") << QByteArray("0705616263");
    }
    void damagedValuesFailCleanly() {
        QFETCH(QByteArray, hex);
        const std::string data = bytes(hex);
        tpf0::Reader reader(data);
        QVERIFY_THROWS_EXCEPTION(tpf0::EReadError, reader.ReadValue());
    }

    void nestingIsBounded() {
        const auto nested = [](int depth) {
            return std::string(std::size_t(depth), '\x01') + std::string(std::size_t(depth), '\0');
        };
        QCOMPARE(readOne(nested(tpf0::MaxDepth)).tag, Tag::List);
        const std::string tooDeep = nested(tpf0::MaxDepth + 1);
        tpf0::Reader tooDeepReader(tooDeep);
        QVERIFY_THROWS_EXCEPTION(tpf0::EReadError, tooDeepReader.ReadValue());
        // Far beyond the bound: refused, not followed down the stack.
        for (const char tag : {'\x01', '\x0e'}) {
            const std::string hostile(1 << 20, tag);
            tpf0::Reader reader(hostile);
            QVERIFY_THROWS_EXCEPTION(tpf0::EReadError, reader.ReadValue());
        }
    }

    void errorsSayWhere() {
        const std::string data = bytes("06026869"
                                       "0cffffff7f");
        tpf0::Reader reader(data);
        reader.ReadValue();
        try {
            reader.ReadValue();
            QFAIL("no error");
        } catch (const tpf0::EReadError& e) {
            QCOMPARE(e.Offset(), std::size_t(9));
            QVERIFY2(QByteArray(e.what()).contains("ends early"), e.what());
        }
    }

    void recordsWithTheirSignature() {
        tpf0::Writer writer;
        writer.WriteSignature();
        writer.WriteShortString("TLabel");
        writer.WriteShortString("Label44");
        writer.WriteShortString("Left");
        writer.WriteInteger(352);
        writer.WriteShortString("Caption");
        writer.WriteText("false");
        writer.WriteEndMarker();
        writer.WriteEndMarker();

        tpf0::Reader reader(writer.Data());
        const auto record = reader.ReadRecord();
        QVERIFY(reader.AtEnd());
        QCOMPARE(record.className, std::string("TLabel"));
        QCOMPARE(record.name, std::string("Label44"));
        QCOMPARE(record.properties.size(), std::size_t(2));
        QCOMPARE(record.properties[0].name, std::string("Left"));
        QCOMPARE(record.properties[0].value.integer, 352);
        QCOMPARE(record.properties[1].value.bytes, std::string("false"));

        std::string wrongSignature = writer.Data();
        wrongSignature[3] = '1';
        tpf0::Reader bad(wrongSignature);
        QVERIFY_THROWS_EXCEPTION(tpf0::EReadError, bad.ReadRecord());

        std::string withChild = writer.Data();
        withChild.back() = '\x06';
        tpf0::Reader child(withChild);
        QVERIFY_THROWS_EXCEPTION(tpf0::EReadError, child.ReadRecord());
    }
};

QTEST_APPLESS_MAIN(Tpf0Test)
#include "tpf0_test.moc"
