#include "core/history/MeasurementJournal.h"

QJsonObject MeasuredJournalRecord(const MeasuredEntry& e) {
    // A fixed offset: local time alone would be written without one.
    const QDateTime started = e.started.toOffsetFromUtc(e.started.offsetFromUtc());
    return {
        {QStringLiteral("kind"), e.kind},
        {QStringLiteral("version"), 1},
        {QStringLiteral("started"), started.toString(Qt::ISODateWithMs)},
        {QStringLiteral("server"), e.server},
        {QStringLiteral("family"), QString::fromLatin1(AddressFamilyName(e.family))},
        {QStringLiteral("address"), e.address},
        {QStringLiteral("bytes_per_s"), e.bytesPerSecond},
        {QStringLiteral("mark"), e.mark},
    };
}
