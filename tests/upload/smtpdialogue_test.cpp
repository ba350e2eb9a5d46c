// The SMTP steps without a socket: replies in, bytes and log lines out.
#include "core/measure/RunResult.h"
#include "core/upload/SmtpDialogue.h"
#include "core/upload/UploadRate.h"

#include <QtTest>
#include <cmath>

namespace {
const std::string kAddress = "me@example.com";

SmtpDialogue makeDialogue() {
    SmtpDialogue d;
    d.Endpoints = {
        .LocalHostName = [] { return std::string("myhost"); },
        .LocalAddressText = [] { return std::string("10.0.0.1"); },
        .LocalPortNumber = [] { return 40000; },
        .RemoteHostName = [] { return std::string("mx.test"); },
        .RemoteAddressText = [] { return std::string("10.0.0.2"); },
        .RemotePortNumber = [] { return 25; },
    };
    d.Start(kAddress);
    d.Connected();
    return d;
}

// Everything pending, as the socket would take it in one piece.
std::string takeAll(SmtpDialogue& d) {
    const std::string bytes(d.Pending());
    d.Sent(static_cast<int>(bytes.size()));
    return bytes;
}

const char* const kGoodReplies[] = {"220 mx ESMTP\r\n", "250 mx\r\n",       "250 ok\r\n",
                                    "250 ok\r\n",       "354 go ahead\r\n", "250 queued\r\n",
                                    "221 bye\r\n"};

// A dialogue that has had good replies up to the given step, with nothing pending.
SmtpDialogue atStep(int step) {
    SmtpDialogue d = makeDialogue();
    for (int i = 0; i < step; ++i) {
        d.Received(kGoodReplies[i]);
        takeAll(d);
    }
    return d;
}

std::string expectedBody(const char* lineEnd) {
    std::string body = std::string("Mail from myhost , 10.0.0.1 , Port:40000") + lineEnd +
                       "Provider Host: mx.test , 10.0.0.2 , Port:25" + lineEnd;
    for (int i = 0; i < 6000; ++i)
        body += std::string("This is an upload speed test mail sent by Quillmet.") + lineEnd;
    return body + "." + lineEnd;
}

QStringList toList(const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& l : lines)
        list << QString::fromStdString(l);
    return list;
}
} // namespace

class SmtpDialogueTest : public QObject {
    Q_OBJECT

private slots:
    void completeReply_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("complete");
        QTest::newRow("one line") << QByteArray("220 ready\r\n") << true;
        QTest::newRow("code alone") << QByteArray("250\r\n") << true;
        QTest::newRow("multi-line, whole")
            << QByteArray("250-first\r\n250-second\r\n250 end\r\n") << true;
        QTest::newRow("continuation only") << QByteArray("220-first\r\n") << false;
        QTest::newRow("no line end yet") << QByteArray("220 read") << false;
        QTest::newRow("CR without LF") << QByteArray("220 ready\r") << false;
        QTest::newRow("lone LF") << QByteArray("220 ready\n") << false;
        QTest::newRow("two digits") << QByteArray("22 ready\r\n") << false;
        QTest::newRow("letter in code") << QByteArray("2x0 ready\r\n") << false;
        QTest::newRow("no blank after code") << QByteArray("220ready\r\n") << false;
        QTest::newRow("last line unfinished") << QByteArray("220-a\r\n220 b") << false;
        QTest::newRow("ends on a continuation") << QByteArray("220 a\r\n250-b\r\n") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void completeReply() {
        QFETCH(QByteArray, text);
        QFETCH(bool, complete);
        QCOMPARE(SmtpDialogue::IsCompleteReply(text.toStdString()), complete);
    }

    void matchingReplySendsTheNextCommand_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("0 greeting")
            << 0 << QByteArray("Helo myhost\r\n") << QStringList{"Helo myhost"};
        QTest::newRow("1 helo") << 1 << QByteArray("Mail From:me@example.com\r\n")
                                << QStringList{"Mail From:me@example.com"};
        QTest::newRow("2 from") << 2 << QByteArray("RCPT to:me@example.com\r\n")
                                << QStringList{"RCPT to:me@example.com"};
        QTest::newRow("3 rcpt") << 3 << QByteArray("DATA\r\n") << QStringList{"DATA"};
        QTest::newRow("5 body") << 5 << QByteArray("QUIT\r\n")
                                << QStringList{"/* アップロード測定終了. */", "QUIT"};
        QTest::newRow("6 quit") << 6 << QByteArray() << QStringList{"/* 正常終了しました. */"};
    }
    void matchingReplySendsTheNextCommand() {
        QFETCH(int, step);
        QFETCH(QByteArray, sent);
        QFETCH(QStringList, log);
        SmtpDialogue d = atStep(step);
        QCOMPARE(d.Step(), step);
        const SmtpOutcome out = d.Received(kGoodReplies[step]);
        QCOMPARE(toList(out.log), log);
        QCOMPARE(QByteArray::fromStdString(std::string(d.Pending())), sent);
        QCOMPARE(d.Step(), step == 6 ? 0 : step + 1);
        QCOMPARE(d.Finished(), step == 6);
    }

    void mismatchLogsAndWaits_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("0") << 0 << QStringList{"コネクト失敗."};
        QTest::newRow("1") << 1 << QStringList{"Heloコマンド失敗."};
        QTest::newRow("2") << 2 << QStringList{"From送信失敗."};
        QTest::newRow("3") << 3 << QStringList{"RCPT to送信失敗."};
        QTest::newRow("4") << 4 << QStringList{"DATA送信失敗."};
        QTest::newRow("5") << 5 << QStringList{"/* アップロード測定終了. */", "本文送信エラー."};
        QTest::newRow("6") << 6 << QStringList{"QUIT送信エラー."};
    }
    void mismatchLogsAndWaits() {
        QFETCH(int, step);
        QFETCH(QStringList, log);
        SmtpDialogue d = atStep(step);
        const SmtpOutcome out = d.Received("554 5.7.1 refused\r\n");
        QCOMPARE(toList(out.log), log);
        QVERIFY(d.Pending().empty());
        QVERIFY(!out.bodyStarted);
        QCOMPARE(d.Step(), step);
        // The dialogue still waits where it was: the expected code goes on.
        const SmtpOutcome next = d.Received(kGoodReplies[step]);
        QCOMPARE(d.Step(), step == 6 ? 0 : step + 1);
        QVERIFY(!next.transferEnded); // the end of the transfer was taken once
    }

    void replyCodeIsComparedExactly_data() {
        QTest::addColumn<QByteArray>("greeting");
        QTest::newRow("221 instead of 220") << QByteArray("221 x\r\n");
        QTest::newRow("leading blank") << QByteArray(" 220 x\r\n220 y\r\n");
        QTest::newRow("lower case text first") << QByteArray("x220 y\r\n220 z\r\n");
    }
    void replyCodeIsComparedExactly() {
        QFETCH(QByteArray, greeting);
        SmtpDialogue d = makeDialogue();
        const SmtpOutcome out = d.Received(greeting.toStdString());
        QCOMPARE(toList(out.log), QStringList{"コネクト失敗."});
        QVERIFY(d.Pending().empty());
    }

    void bodyIsBuiltLoggedAndQueuedWithCrLf() {
        SmtpDialogue d = atStep(4);
        const SmtpOutcome out = d.Received("354 go ahead\r\n");
        QVERIFY(out.bodyStarted);
        QVERIFY(!out.transferEnded);
        QCOMPARE(out.log.size(), std::size_t(2));
        QCOMPARE(QString::fromStdString(out.log[0]), QStringLiteral("/* アップロード測定開始. */"));
        // The log shows the body with plain line feeds; the wire has CR LF everywhere.
        QCOMPARE(out.log[1], expectedBody("\n"));
        const std::string wire(d.Pending());
        QCOMPARE(wire, expectedBody("\r\n"));
        QCOMPARE(wire.size(), std::size_t(6000 * 53 + 3) + 42 + 45);
        QVERIFY(wire.ends_with("\r\n.\r\n"));
        QCOMPARE(d.Step(), 5);
        QCOMPARE(d.BodyBytesSent(), 0);
    }

    void bodyGoesOutInPiecesAndCountsWhatWasTaken() {
        SmtpDialogue d = atStep(4);
        d.Received("354 go\r\n");
        const std::size_t total = d.Pending().size();
        std::string wire;
        // A reply before the body is out waits for the rest of the body.
        bool replied = false;
        while (static_cast<std::size_t>(d.BodyBytesSent()) < total) {
            const std::string_view pending = d.Pending();
            const std::size_t n = std::min<std::size_t>(pending.size(), 65000);
            wire.append(pending.substr(0, n));
            if (!replied && wire.size() > total / 2) {
                const SmtpOutcome early = d.Received("250 ok\r\n");
                QVERIFY(!early.transferEnded);
                QVERIFY(early.log.empty());
                replied = true;
            }
            const SmtpOutcome out = d.Sent(static_cast<int>(n));
            QCOMPARE(d.BodyBytesSent(), static_cast<std::int32_t>(wire.size()));
            if (static_cast<std::size_t>(d.BodyBytesSent()) < total) {
                QVERIFY(!out.transferEnded);
                QVERIFY(out.log.empty());
                continue;
            }
            // The last piece: the waiting reply is acted on now, and QUIT queued.
            QVERIFY(out.transferEnded);
            QCOMPARE(toList(out.log), (QStringList{"/* アップロード測定終了. */", "QUIT"}));
        }
        QVERIFY(replied);
        QCOMPARE(wire, expectedBody("\r\n"));
        QCOMPARE(std::string(d.Pending()), std::string("QUIT\r\n"));
        QVERIFY(d.TransferEnded());
    }

    void bodyReplyTakesTheEndAtItsFirstText() {
        SmtpDialogue d = atStep(5);
        const SmtpOutcome first = d.Received("25");
        QVERIFY(first.transferEnded);
        QCOMPARE(toList(first.log), QStringList{"/* アップロード測定終了. */"});
        QVERIFY(d.Pending().empty());
        const SmtpOutcome rest = d.Received("0 ok\r\n");
        QVERIFY(!rest.transferEnded);
        QCOMPARE(toList(rest.log), QStringList{"QUIT"});
    }

    void greetingSplitOrMultiLineIsOneReply_data() {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::newRow("split in two") << QList<QByteArray>{"220 mx.te", "st ESMTP\r\n"};
        QTest::newRow("split inside CR LF") << QList<QByteArray>{"220 mx\r", "\n"};
        QTest::newRow("multi-line, one read")
            << QList<QByteArray>{"220-mx.test welcome\r\n220-more\r\n220 ready\r\n"};
        QTest::newRow("multi-line, line by line")
            << QList<QByteArray>{"220-mx.test welcome\r\n", "220-more\r\n", "220 ready\r\n"};
    }
    void greetingSplitOrMultiLineIsOneReply() {
        QFETCH(QList<QByteArray>, pieces);
        SmtpDialogue d = makeDialogue();
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            const SmtpOutcome out = d.Received(pieces[i].toStdString());
            const bool last = i == pieces.size() - 1;
            QCOMPARE(toList(out.log), last ? QStringList{"Helo myhost"} : QStringList{});
            QCOMPARE(d.Step(), last ? 1 : 0);
        }
        QCOMPARE(std::string(d.Pending()), std::string("Helo myhost\r\n"));
    }

    void textAfterTheEndOrAfterStopIsIgnored() {
        SmtpDialogue done = atStep(7);
        QVERIFY(done.Finished());
        QVERIFY(done.Received("220 again\r\n").log.empty());
        QVERIFY(done.Pending().empty());

        SmtpDialogue stopped = atStep(2);
        stopped.Stop();
        QVERIFY(!stopped.Running());
        QVERIFY(stopped.Received("250 ok\r\n").log.empty());
        QVERIFY(stopped.Pending().empty());
    }

    void endlessReplyIsCutAtItsBound_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QByteArray>("piece"); // sent again and again
        QTest::addColumn<int>("bound");        // what is taken before the cut
        const int line = int(SmtpDialogue::kMaxReplyLine);
        const QByteArray longLine = "220-" + QByteArray(1000 - 6, 'm') + "\r\n";
        QTest::newRow("no line end, small pieces") << 0 << QByteArray(1000, 'x') << line;
        QTest::newRow("no line end, one big read") << 0 << QByteArray(100000, 'x') << line;
        QTest::newRow("reply to the body") << 5 << QByteArray(4096, 'x') << line;
        QTest::newRow("after the last reply") << 7 << QByteArray(4096, 'x') << line;
        QTest::newRow("multi-line") << 0 << longLine << int(SmtpDialogue::kMaxReply);
    }
    void endlessReplyIsCutAtItsBound() {
        QFETCH(int, step);
        QFETCH(QByteArray, piece);
        QFETCH(int, bound);
        SmtpDialogue d = atStep(step);
        const std::string text = piece.toStdString();
        std::size_t taken = 0;
        SmtpOutcome out;
        for (int i = 0; i < 10000 && !out.replyTooLong; ++i) {
            out = d.Received(text);
            taken += out.replyTooLong ? out.keptBytes : text.size();
        }
        QVERIFY(out.replyTooLong);
        QCOMPARE(taken, std::size_t(bound));
        QCOMPARE(toList(out.log).last(), "/* 応答が長すぎます. */");
        QVERIFY(d.ReplyTooLong());
        QVERIFY(d.Pending().empty());
        // Nothing more is acted on, not even a proper reply.
        const SmtpOutcome later = d.Received("220 fine\r\n");
        QVERIFY(later.log.empty() && !later.replyTooLong);
        QVERIFY(d.Pending().empty());
    }

    void replyLineOfSixtyFourKibIsAnswered() {
        SmtpDialogue d = makeDialogue();
        const std::string line =
            "220 " + std::string(SmtpDialogue::kMaxReplyLine - 4 - 1, 'x') + "\r\n";
        const SmtpOutcome out = d.Received(line);
        QVERIFY(!out.replyTooLong);
        QCOMPARE(toList(out.log), QStringList{"Helo myhost"});
    }

    void startBeginsAfresh() {
        SmtpDialogue d = atStep(6);
        QVERIFY(d.TransferEnded());
        d.Start("other@example.com");
        QCOMPARE(d.Step(), 0);
        QVERIFY(!d.TransferEnded());
        QVERIFY(!d.BodyStarted());
        QVERIFY(!d.WasConnected());
        QCOMPARE(d.BodyBytesSent(), 0);
        d.Received("220 x\r\n");
        takeAll(d);
        d.Received("250 x\r\n");
        QCOMPARE(std::string(d.Pending()), std::string("Mail From:other@example.com\r\n"));
    }

    void rate_data() {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<qint64>("micros");
        QTest::addColumn<QString>("kbps");
        QTest::addColumn<QString>("mbps");
        QTest::newRow("2,000 ms") << 312100 << qint64(2000000) << "1219.1"
                                  << "1.191";
        QTest::newRow("whole body, 250 ms") << 318089 << qint64(250000) << "9940.3"
                                            << "9.707";
        // About 100 Mbit/s: whole milliseconds (25 or 26) would read 99400.9 or 95577.8.
        QTest::newRow("25.447 ms") << 318083 << qint64(25447) << "97654.9"
                                   << "95.366";
        QTest::newRow("25.999 ms") << 318083 << qint64(25999) << "95581.5"
                                   << "93.341";
        // The clock did not advance: counted as one microsecond, never infinite.
        QTest::newRow("0 us") << 1024 << qint64(0) << "8000000.0"
                              << "7812.500";
        QTest::newRow("nothing sent") << 0 << qint64(0) << "0.0"
                                      << "0.000";
    }
    void rate() {
        QFETCH(int, bytes);
        QFETCH(qint64, micros);
        QFETCH(QString, kbps);
        QFETCH(QString, mbps);
        const long double rate = UploadBytesPerSecond(bytes, micros);
        QVERIFY(std::isfinite(rate));
        QCOMPARE(RoundKbpsText(rate), kbps);
        QCOMPARE(RoundMbpsText(rate), mbps);
    }
};

QTEST_GUILESS_MAIN(SmtpDialogueTest)
#include "smtpdialogue_test.moc"
