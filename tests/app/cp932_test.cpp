// The CP932 conversion at the state file's boundary.
#include "core/state/Cp932.h"

#include <QtTest>

namespace {

std::string bytes(const QByteArray& hex) {
    return QByteArray::fromHex(hex).toStdString();
}

} // namespace

class Cp932Test : public QObject {
    Q_OBJECT

private slots:
    // Characters whose code is theirs alone: text to bytes and back, both ways.
    void roundTrips_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("backslash is 0x5C") << "\\" << QByteArray("5c");
        QTest::newRow("tilde is 0x7E") << "~" << QByteArray("7e");
        QTest::newRow("control bytes stay") << "\x1a\x1c\x7f" << QByteArray("1a1c7f");
        QTest::newRow("hiragana") << "あ" << QByteArray("82a0");
        QTest::newRow("half-width katakana") << "ｱ" << QByteArray("b1");
        QTest::newRow("NEC circled one") << "①" << QByteArray("8740");
        QTest::newRow("NEC numero") << "№" << QByteArray("8782");
        QTest::newRow("IBM small roman one") << "ⅰ" << QByteArray("fa40");
        QTest::newRow("IBM kanji, trail byte 0x5C") << "纊" << QByteArray("fa5c");
        QTest::newRow("full-width minus") << "－" << QByteArray("817c");
        QTest::newRow("full-width tilde") << "～" << QByteArray("8160");
        QTest::newRow("parallel") << "∥" << QByteArray("8161");
        QTest::newRow("full-width not") << "￢" << QByteArray("81ca");
        QTest::newRow("user-defined area") << "\uE000" << QByteArray("f040");
        QTest::newRow("font name")
            << "ＭＳ Ｐゴシック" << QByteArray("826c827220826f835383568362834e");
        QTest::newRow("empty") << "" << QByteArray();
    }
    void roundTrips() {
        QFETCH(QString, text);
        QFETCH(QByteArray, hex);
        const auto encoded = Utf8ToCp932(text.toStdString());
        QVERIFY(encoded);
        QCOMPARE(QByteArray::fromStdString(*encoded).toHex(), hex);
        const auto decoded = Cp932ToUtf8(*encoded);
        QVERIFY(decoded);
        QCOMPARE(QString::fromStdString(*decoded), text);
    }

    void necSelectedIbmExtensionReadsAsTheIbmCode() {
        // Two codes for one character: reading either gives the character, writing gives 0xFA5C.
        const auto decoded = Cp932ToUtf8(bytes("ed40"));
        QVERIFY(decoded);
        QCOMPARE(QString::fromStdString(*decoded), QStringLiteral("纊"));
        QCOMPARE(QByteArray::fromStdString(*Utf8ToCp932(*decoded)).toHex(), QByteArray("fa5c"));
    }

    // A character CP932 lacks, or would give back as another one, cannot be represented.
    void cannotRepresent_data() {
        QTest::addColumn<QByteArray>("utf8");
        QTest::newRow("emoji") << QByteArray("URL \xF0\x9F\x98\x80");
        QTest::newRow("yen sign would read back as backslash") << QByteArray("\xC2\xA5");
        QTest::newRow("overline would read back as tilde") << QByteArray("\xE2\x80\xBE");
        QTest::newRow("wave dash would read back as full-width tilde")
            << QByteArray("\xE3\x80\x9C");
        QTest::newRow("double vertical line") << QByteArray("\xE2\x80\x96");
        QTest::newRow("minus sign") << QByteArray("\xE2\x88\x92");
        QTest::newRow("latin e acute") << QByteArray("caf\xC3\xA9");
        QTest::newRow("not UTF-8") << QByteArray("abc\xFF");
    }
    void cannotRepresent() {
        QFETCH(QByteArray, utf8);
        QVERIFY(!Utf8ToCp932(utf8.toStdString()));
    }

    void invalidBytes_data() {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<QString>("lenient");
        QTest::newRow("0x80") << QByteArray("418042") << "A\uFFFDB";
        QTest::newRow("0xFF") << QByteArray("41ff") << "A\uFFFD";
        QTest::newRow("lead byte before a space") << QByteArray("418120") << "A\uFFFD ";
        QTest::newRow("unassigned double byte") << QByteArray("85404142") << "\uFFFD@AB";
        QTest::newRow("lead byte at the end") << QByteArray("82a081") << "あ\uFFFD";
    }
    void invalidBytes() {
        QFETCH(QByteArray, hex);
        QFETCH(QString, lenient);
        const std::string raw = bytes(hex);
        QVERIFY(!Cp932ToUtf8(raw));
        QCOMPARE(QString::fromStdString(Cp932ToUtf8Lenient(raw)), lenient);
    }

    void prefixNeverSplitsACharacter_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("expected");
        const QByteArray kana = QByteArray::fromHex("82a0").repeated(200); // 400 bytes
        QTest::newRow("short stays") << QByteArray("abc") << 255 << 3;
        QTest::newRow("ascii cut") << QByteArray(300, 'a') << 255 << 255;
        QTest::newRow("pair across the limit") << kana << 255 << 254;
        QTest::newRow("pair ends on the limit") << ("a" + kana) << 255 << 255;
        QTest::newRow("half-width kana are single") << QByteArray(300, '\xb1') << 255 << 255;
    }
    void prefixNeverSplitsACharacter() {
        QFETCH(QByteArray, data);
        QFETCH(int, max);
        QFETCH(int, expected);
        const std::string text = data.toStdString();
        QCOMPARE(int(Cp932Prefix(text, std::size_t(max)).size()), expected);
    }
};

QTEST_APPLESS_MAIN(Cp932Test)
#include "cp932_test.moc"
