// A reader of the Prometheus text format apart from the program's own: the samples, and what
// the textfile collector would refuse (no final LF, a line that is no sample, no TYPE first).
#pragma once

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

struct PromText {
    QList<std::pair<QHash<QString, QString>, QString>> samples; // labels with __name__, value
    QStringList problems;

    // The value of the sample of name whose labels include these; empty when none.
    QString value(const QString& name, QHash<QString, QString> labels) const {
        labels.insert(QStringLiteral("__name__"), name);
        for (const auto& [have, value] : samples) {
            if (std::all_of(labels.keyValueBegin(), labels.keyValueEnd(),
                            [&](auto kv) { return have.value(kv.first) == kv.second; }))
                return value;
        }
        return {};
    }
};

inline QString ReadPromFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

inline PromText ParsePromText(const QString& text) {
    static const QRegularExpression sample(
        QStringLiteral("^([a-z_]+)\\{((?:[a-z_]+=\"(?:[^\"\\\\]|\\\\[\\\\\"n])*\",?)*)\\} "
                       "(-?[0-9.]+(?:e[-+][0-9]+)?)$"));
    static const QRegularExpression label(QStringLiteral("([a-z_]+)=\"((?:[^\"\\\\]|\\\\.)*)\""));
    PromText out;
    if (!text.endsWith(u'\n'))
        out.problems << QStringLiteral("no final line feed");
    QStringList typed;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("# TYPE ")))
            typed << line.section(u' ', 2, 2);
        if (line.startsWith(u'#'))
            continue;
        const auto m = sample.match(line);
        if (!m.hasMatch() || !typed.contains(m.captured(1))) {
            out.problems << line;
            continue;
        }
        QHash<QString, QString> labels{{QStringLiteral("__name__"), m.captured(1)}};
        for (auto it = label.globalMatch(m.captured(2)); it.hasNext();) {
            const auto l = it.next();
            QString value;
            const QString escaped = l.captured(2);
            for (qsizetype i = 0; i < escaped.size(); ++i) {
                if (escaped[i] == u'\\' && ++i < escaped.size())
                    value += escaped[i] == u'n' ? QChar(u'\n') : escaped[i];
                else
                    value += escaped[i];
            }
            labels.insert(l.captured(1), value);
        }
        out.samples.append({labels, m.captured(3)});
    }
    return out;
}
