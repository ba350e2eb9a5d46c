#include "cli/CliOptions.h"

#include "core/history/PrometheusFile.h"
#include "core/server/MeasurementServer.h"
#include "core/server/ServerSettings.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

const QString kRuns = QStringLiteral("runs");
const QString kUpload = QStringLiteral("upload");
const QString kUploadHttp = QStringLiteral("upload-http");
const QString kSmtp = QStringLiteral("smtp");
const QString kMail = QStringLiteral("mail");
const QString kJson = QStringLiteral("json");
const QString kCsv = QStringLiteral("csv");
const QString kAppend = QStringLiteral("append-history");
const QString kTimeout = QStringLiteral("timeout");
const QString kMaxTime = QStringLiteral("max-time");
const QString kQuiet = QStringLiteral("quiet");
const QString kServer = QStringLiteral("server");
const QString kSize = QStringLiteral("size");
const QString kLine = QStringLiteral("line");
const QString kFamily = QStringLiteral("family");
const QString kIpv4 = QStringLiteral("4");
const QString kIpv6 = QStringLiteral("6");
const QString kPrometheus = QStringLiteral("prometheus");

// A whole decimal number from low to high, or nothing.
bool boundedNumber(const QString& text, int low, int high, int* value) {
    bool ok = false;
    const int n = text.trimmed().isEmpty() ? 0 : text.toInt(&ok, 10);
    if (!ok || n < low || n > high)
        return false;
    *value = n;
    return true;
}

} // namespace

QStringList CliArguments(int argc, const char* const* argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes) {
            text.clear();
            for (const char c : bytes) {
                const auto b = static_cast<unsigned char>(c);
                text += b < 0x80 ? QString(QLatin1Char(c))
                                 : QStringLiteral("%%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
            }
        }
        arguments << text;
    }
    return arguments;
}

CliParse ParseCliArguments(const QStringList& arguments) {
    CliParse result;
    const auto usage = [&result](const QString& error) {
        result.outcome = CliParse::Outcome::Usage;
        result.error = error;
        return result;
    };

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {kRuns, {}, QStringLiteral("N")},
        {kUpload, {}},
        {kUploadHttp, {}},
        {kLine, {}},
        {kSmtp, {}, QStringLiteral("HOST")},
        {kMail, {}, QStringLiteral("ADDRESS")},
        {kJson, {}},
        {kCsv, {}},
        {kAppend, {}},
        {kTimeout, {}, QStringLiteral("SECONDS")},
        {kMaxTime, {}, QStringLiteral("SECONDS")},
        {kServer, {}, QStringLiteral("HOST[:PORT]")},
        {kSize, {}, QStringLiteral("SIZE")},
        {kPrometheus, {}, QStringLiteral("FILE")},
        {{QStringLiteral("q"), kQuiet}, {}},
        {kIpv4, {}},
        {kIpv6, {}},
        {kFamily, {}, QStringLiteral("FAMILY")},
    });
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return usage(QStringLiteral("知らないオプションです: %1")
                             .arg(unknown.front().size() == 1
                                      ? QLatin1Char('-') + unknown.front()
                                      : QStringLiteral("--") + unknown.front()));
        // Qt's other two complaints, in the program's words.
        static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'"));
        static const QRegularExpression unexpected(
            QStringLiteral("^Unexpected value after '(.*)'"));
        if (const auto m = missing.match(parser.errorText()); m.hasMatch())
            return usage(QStringLiteral("%1 には値が必要です").arg(m.captured(1)));
        if (const auto m = unexpected.match(parser.errorText()); m.hasMatch())
            return usage(QStringLiteral("%1 は値をとりません").arg(m.captured(1)));
        return usage(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        result.outcome = CliParse::Outcome::Help;
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        result.outcome = CliParse::Outcome::Version;
        return result;
    }

    CliOptions& o = result.options;
    // --server, when given, is an address the run can use: else what is wrong with it.
    const auto takeServer = [&parser, &o]() -> QString {
        if (!parser.isSet(kServer))
            return QString();
        o.server = parser.value(kServer);
        MeasurementServer server;
        const ServerAddressError e = ParseServerAddress(o.server, &server);
        return e == ServerAddressError::None
                   ? QString()
                   : QStringLiteral("--server: ") + ServerAddressErrorText(e);
    };
    o.upload = parser.isSet(kUpload);
    o.appendHistory = parser.isSet(kAppend);
    o.quiet = parser.isSet(kQuiet);
    for (const QString& name :
         {kRuns, kSmtp, kMail, kTimeout, kMaxTime, kServer, kSize, kFamily, kPrometheus}) {
        if (parser.values(name).size() > 1)
            return usage(QStringLiteral("--%1 は一度だけ指定してください").arg(name));
    }
    if (parser.isSet(kJson) && parser.isSet(kCsv))
        return usage(QStringLiteral("--json と --csv は同時に指定できません"));
    o.format = parser.isSet(kJson)  ? CliOptions::Format::Json
               : parser.isSet(kCsv) ? CliOptions::Format::Csv
                                    : CliOptions::Format::History;
    if (parser.isSet(kRuns) && !boundedNumber(parser.value(kRuns), 1, kMaxRuns, &o.runs))
        return usage(
            QStringLiteral("--runs には 1 から %1 までの回数を指定してください").arg(kMaxRuns));
    if (parser.isSet(kTimeout) &&
        !boundedNumber(parser.value(kTimeout), 1, kMaxTimeoutSeconds, &o.timeoutSeconds))
        return usage(QStringLiteral("--timeout には 1 から %1 までの秒数を指定してください")
                         .arg(kMaxTimeoutSeconds));
    if (parser.isSet(kMaxTime) &&
        !boundedNumber(parser.value(kMaxTime), 1, kMaxMaxTimeSeconds, &o.maxTimeSeconds))
        return usage(QStringLiteral("--max-time には 1 から %1 までの秒数を指定してください")
                         .arg(kMaxMaxTimeSeconds));
    // Told now rather than after an hour's runs that measured for nobody.
    if (parser.isSet(kPrometheus)) {
        o.prometheus = parser.value(kPrometheus);
        if (const QString bad = PrometheusPathProblem(o.prometheus); !bad.isEmpty())
            return usage(QStringLiteral("--prometheus: ") + bad);
    }

    if (int(parser.isSet(kIpv4)) + int(parser.isSet(kIpv6)) + int(parser.isSet(kFamily)) > 1)
        return usage(QStringLiteral("-4、-6 と --family はどれか一つだけ指定してください"));
    if (parser.isSet(kIpv4))
        o.family = AddressFamily::Ipv4;
    if (parser.isSet(kIpv6))
        o.family = AddressFamily::Ipv6;
    if (parser.isSet(kFamily)) {
        const QString value = parser.value(kFamily);
        o.bothFamilies = value == QLatin1String("both");
        o.family = AddressFamilyFromName(value.toStdString());
        if (!o.bothFamilies && !o.family)
            return usage(QStringLiteral("--family には auto、ipv4、ipv6、both のどれかを指定して"
                                        "ください"));
    }

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(kLine)) {
        if (o.upload || parser.isSet(kUploadHttp))
            return usage(
                QStringLiteral("--line と --upload、--upload-http は同時に指定できません"));
        if (!positional.isEmpty())
            return usage(QStringLiteral("--line のときは URL を指定しません"));
        if (parser.isSet(kSize) || parser.isSet(kSmtp) || parser.isSet(kMail))
            return usage(QStringLiteral("--line には --size、--smtp、--mail は使えません"));
        if (o.format == CliOptions::Format::Csv)
            return usage(QStringLiteral("--line の結果は既定の行か --json で出力します"));
        if (o.appendHistory)
            return usage(QStringLiteral("--line の結果は qm1.dat の測定履歴には追記しません"));
        if (parser.isSet(kMaxTime))
            return usage(QStringLiteral("--line では --timeout が測定全体の上限です"));
        // A --server the test cannot use is refused when it starts, as a URL is.
        o.line = true;
        o.server = parser.value(kServer);
        return result;
    }
    if (parser.isSet(kUploadHttp)) {
        if (o.upload)
            return usage(QStringLiteral("--upload と --upload-http は同時に指定できません"));
        if (!positional.isEmpty())
            return usage(QStringLiteral("--upload-http のときは URL を指定しません"));
        if (parser.isSet(kSize))
            return usage(QStringLiteral("--size はダウンロードの測定にだけ使えます"));
        if (parser.isSet(kSmtp) || parser.isSet(kMail))
            return usage(QStringLiteral("--smtp と --mail は --upload と一緒に使います"));
        o.uploadHttp = true;
        if (const QString bad = takeServer(); !bad.isEmpty())
            return usage(bad);
        return result;
    }
    if (o.upload && (parser.isSet(kServer) || parser.isSet(kSize)))
        return usage(QStringLiteral("--server と --size はダウンロードの測定にだけ使えます"));
    if (o.upload) {
        if (o.family || o.bothFamilies)
            return usage(QStringLiteral("-4、-6 と --family はメールの測定には使えません"));
        if (!positional.isEmpty())
            return usage(QStringLiteral("--upload のときは URL を指定しません"));
        if (parser.isSet(kRuns))
            return usage(QStringLiteral("--runs はダウンロードの測定にだけ使えます"));
        if (!parser.isSet(kSmtp) || !parser.isSet(kMail))
            return usage(QStringLiteral("--upload には --smtp と --mail が必要です"));
        o.smtp = parser.value(kSmtp);
        o.mail = parser.value(kMail);
        return result;
    }
    if (parser.isSet(kSmtp) || parser.isSet(kMail))
        return usage(QStringLiteral("--smtp と --mail は --upload と一緒に使います"));
    if (parser.isSet(kServer) && !parser.isSet(kSize))
        return usage(QStringLiteral("--server は --size と一緒に使います"));
    if (parser.isSet(kSize)) {
        if (!positional.isEmpty())
            return usage(QStringLiteral("URL と --size は同時に指定できません"));
        o.size = parser.value(kSize);
        if (PresetPath(o.size).isEmpty())
            return usage(QStringLiteral("--size には %1 のどれかを指定してください")
                             .arg(PresetSizeNames().join(QStringLiteral(", "))));
        if (const QString bad = takeServer(); !bad.isEmpty())
            return usage(bad);
        return result;
    }
    if (positional.isEmpty())
        return usage(QStringLiteral("測定する URL を指定してください"));
    if (positional.size() > 1)
        return usage(QStringLiteral("URL は一つだけ指定してください"));
    o.url = positional.front();
    // The URL's IPv6 address leaves no family to choose.
    if (o.url.startsWith(QLatin1String("http://[")) &&
        (o.bothFamilies || o.family == AddressFamily::Ipv4))
        return usage(QStringLiteral("IPv6 アドレスの URL は IPv6 で測定します（-4 や --family "
                                    "both は使えません）"));
    return result;
}

MeasurementServer CliServer(const CliOptions& options, QString* note) {
    MeasurementServer server;
    if (options.server.isEmpty()) {
        const ServerSettingsRead read = ReadServerSettings();
        server = read.server;
        if (read.fault != ServerSettingsRead::Fault::None)
            *note = ServerSettingsFaultText(read.fault);
    } else {
        ParseServerAddress(options.server, &server);
    }
    return server;
}

std::optional<AddressFamily> CliSettingsFamily() {
    return ReadServerSettings().server.family;
}

QString CliPresetUrl(const CliOptions& options, QString* note) {
    return CliServer(options, note).PresetUrl(options.size);
}

QString CliUsageText() {
    return QStringLiteral("使い方: quillmet-cli [オプション] URL\n"
                          "        quillmet-cli --upload --smtp HOST --mail ADDRESS [オプション]\n"
                          "        quillmet-cli [--server HOST[:PORT]] --size SIZE [オプション]\n"
                          "        quillmet-cli --upload-http [--server HOST[:PORT]] [オプション]\n"
                          "        quillmet-cli --line [--server HOST[:PORT]] [オプション]\n"
                          "詳しくは quillmet-cli --help\n");
}

QString CliHelpText() {
    return QStringLiteral(
        "使い方: quillmet-cli [オプション] URL\n"
        "        quillmet-cli --upload --smtp HOST --mail ADDRESS [オプション]\n"
        "        quillmet-cli [--server HOST[:PORT]] --size SIZE [オプション]\n"
        "        quillmet-cli --upload-http [--server HOST[:PORT]] [オプション]\n"
        "        quillmet-cli --line [--server HOST[:PORT]] [オプション]\n"
        "\n"
        "Quillmet のウィンドウと同じ測定をコマンドラインで行います。URL の JPEG ファイルを\n"
        "2.5 秒おきに 5 回受信し、最速と最遅を除いた 3 回の平均を記録します。--upload では\n"
        "約 312 KB のテストメールを SMTP サーバ（ポート 25）経由で ADDRESS 宛てに送り、\n"
        "送信速度を記録します。メールにはこのコンピュータのホスト名とアドレスが入ります。\n"
        "--upload-http では測定サーバーの受け口へランダムなデータを HTTP で 5 回送り、\n"
        "ダウンロードと同じ方法で送信速度を記録します（ポート 25 を使いません）。\n"
        "--line では測定サーバーとの間で複数の接続を使い、速度が落ち着くまで下りと上りを測り、\n"
        "待機時と負荷時の遅延、RPM（応答性）と判定（A+～F、負荷時の遅延の増え方）を出します。\n"
        "\n"
        "オプション:\n"
        "  --runs N            N 回測定する（1～100、前の測定の終了から 3 秒後に次を開始）。\n"
        "                      失敗した測定があっても次に進み、終了コードは最後に失敗した\n"
        "                      測定のもの（--json と --csv では失敗も kind が error の行で出す）\n"
        "  --upload            アップロード（メールベンチ）を測定する\n"
        "  --upload-http       測定サーバーへの HTTP アップロードを測定する\n"
        "  --line              測定サーバーとの回線品質を測定する（既定の出力は数行の結果、\n"
        "                      --json では一行の JSON。--timeout は測定全体の上限）\n"
        "  --smtp HOST         SMTP サーバ（--upload のとき）\n"
        "  --mail ADDRESS      あなたのメールアドレス（--upload のとき。送信元と宛先）\n"
        "  --json              一回の測定を一行の JSON で出力する（JSON Lines）\n"
        "  --csv               見出し行と、一回の測定につき一行の CSV で出力する\n"
        "  --append-history    カレントディレクトリの qm1.dat の測定履歴にも追記する\n"
        "  --timeout SECONDS   無応答のサーバを待つ秒数（1～3600、既定 60）。応答ヘッダーも\n"
        "                      要求からこの秒数のうちに届かなければ打ち切る\n"
        "  --max-time SECONDS  一回の測定にかける最長の秒数（1～86400、既定 600）。サーバが\n"
        "                      どう応えても、これを過ぎたら打ち切る\n"
        "  --size SIZE         URL の代わりに測定サーバーの見本ファイルを測る\n"
        "                      （15M 8M 4M 2M 1M 500K 200K 100K、簡易測定と同じ大きさ）\n"
        "  --server HOST[:PORT]  --size、--upload-http と --line "
        "の測定サーバー（既定はウィンドウの\n"
        "                      「測定サーバーの設定」で選んだサーバー、ポートの既定は 80）\n"
        "  -4, -6              IPv4 で、または IPv6 で接続する（--family ipv4、ipv6 と同じ）\n"
        "  --family FAMILY     接続に使うアドレス: auto（システムの順に試す）、ipv4、ipv6、\n"
        "                      both（同じサーバーを IPv4、続けて IPv6 で測り、一つずつ記録する。\n"
        "                      --runs N ではこの組を N 回、IPv4 と IPv6 が交互の 2N 回の測定）。\n"
        "                      既定は「測定サーバーの設定」の「接続に使うアドレス」、そこで\n"
        "                      選んでいなければダウンロードは IPv4、ほかは auto。URL が\n"
        "                      [2001:db8::1] のような IPv6 アドレスなら IPv6。--upload には\n"
        "                      使えない\n"
        "  --prometheus FILE   測定のたびに結果を node_exporter の textfile 形式で FILE に\n"
        "                      書き出す（置き換えは一度に。失敗した測定では quillmet_up を 0 に\n"
        "                      して、前の測定値を残す。FILE のフォルダーがなければ使い方の誤り）\n"
        "  -q, --quiet         端末への進行表示をしない\n"
        "  -h, --help          この説明を表示する\n"
        "  -v, --version       版を表示する\n"
        "\n"
        "出力（標準出力）: 既定ではウィンドウの測定履歴と同じ行です。進行表示は標準エラーが\n"
        "端末のときだけ標準エラーに出ます。\n"
        "\n"
        "終了コード:\n"
        "  0  測定した\n"
        "  2  使い方の誤り\n"
        "  3  URL、または SMTP サーバとメールアドレスを受け付けなかった（--line では\n"
        "     --server の測定サーバー）\n"
        "  4  接続できない、接続が切れた、または時間切れ（ネットワークの障害）\n"
        "  5  Quillmet のウィンドウが qm1.dat を使用中（--append-history）\n"
        "  6  サーバがエラーを返した、ファイルが大きすぎる、またはメールを受け付けなかった\n"
        "     （--upload-http では、受け口が送信データを断った、受け取り終わる前に応答した、\n"
        "     受け取ったバイト数が違った、転送しようとした、または受け口がなかったときも。\n"
        "     --line では、サーバーが Quillmet の測定サーバーでなかったときも）\n"
        "  7  qm1.dat を最後まで読めない、または書き込めない（--append-history）\n"
        "  8  測定結果を標準出力に書き込めなかった（ディスクが一杯など）\n"
        "  128+n  シグナル n で中断した\n");
}
