// Records every error that escapes an event handler while alive (no window needed).
#pragma once

#include "core/platform/EventErrors.h"

#include <QStringList>

class EventErrorRecorder final {
public:
    EventErrorRecorder();
    ~EventErrorRecorder();
    EventErrorRecorder(const EventErrorRecorder&) = delete;
    EventErrorRecorder& operator=(const EventErrorRecorder&) = delete;

    const QStringList& texts() const { return m_texts; }
    void clear() { m_texts.clear(); }

private:
    QStringList m_texts;
};
