// A reader of the Prometheus text format written for the tests, apart from the program's own:
// samples by name and labels, and what is wrong with the text as the textfile collector
// would see it.
#pragma once

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

struct PromSample {
    QString name;
    QHash<QString, QString> labels;
    QString value; // as written
};

struct PromText {
    QList<PromSample> samples;
    QStringList problems;

    // The value of the one sample of name whose labels include these; empty when none.
    QString value(const QString& name, const QHash<QString, QString>& labels) const {
        for (const PromSample& s : samples) {
            bool match = s.name == name;
            for (auto it = labels.begin(); match && it != labels.end(); ++it)
                match = s.labels.value(it.key()) == it.value();
            if (match)
                return s.value;
        }
        return {};
    }
};

inline PromText ParsePromText(const QString& text) {
    static const QRegularExpression sampleLine(
        QStringLiteral(R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? ([^ ]+)$)"));
    static const QRegularExpression label(
        QStringLiteral(R"(^([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\[\\"n])*)\",?)"));
    static const QRegularExpression comment(
        QStringLiteral(R"(^# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*)$)"));
    PromText out;
    if (!text.endsWith(QLatin1Char('\n')))
        out.problems << QStringLiteral("no final line feed");
    QHash<QString, QString> types;
    QStringList seenNames;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QString& line = lines[n];
        if (const auto c = comment.match(line); c.hasMatch()) {
            if (c.captured(1) == QLatin1String("TYPE")) {
                if (types.contains(c.captured(2)) || seenNames.contains(c.captured(2)))
                    out.problems << QStringLiteral("TYPE again or after samples: ") + line;
                types.insert(c.captured(2), c.captured(3));
            }
            continue;
        }
        const auto m = sampleLine.match(line);
        if (!m.hasMatch()) {
            out.problems << QStringLiteral("not a sample: ") + line;
            continue;
        }
        PromSample s;
        s.name = m.captured(1);
        s.value = m.captured(3);
        QString rest = m.captured(2);
        while (!rest.isEmpty()) {
            const auto l = label.match(rest);
            if (!l.hasMatch()) {
                out.problems << QStringLiteral("bad labels: ") + line;
                break;
            }
            const QString escaped = l.captured(2);
            QString value;
            for (qsizetype i = 0; i < escaped.size(); ++i) {
                if (escaped[i] == QLatin1Char('\\') && ++i < escaped.size())
                    value += escaped[i] == QLatin1Char('n') ? QChar(u'\n') : escaped[i];
                else
                    value += escaped[i];
            }
            s.labels.insert(l.captured(1), value);
            rest = rest.mid(l.capturedLength());
        }
        bool number = false;
        s.value.toDouble(&number);
        if (!number)
            out.problems << QStringLiteral("not a number: ") + line;
        if (!types.contains(s.name))
            out.problems << QStringLiteral("no TYPE before: ") + line;
        // A name's samples are one block.
        if (!seenNames.isEmpty() && seenNames.back() != s.name && seenNames.contains(s.name))
            out.problems << QStringLiteral("samples of a name apart: ") + line;
        if (seenNames.isEmpty() || seenNames.back() != s.name)
            seenNames << s.name;
        out.samples << s;
    }
    return out;
}
