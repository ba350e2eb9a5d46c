#include "support/EventErrorRecorder.h"

EventErrorRecorder::EventErrorRecorder() {
    SetEventErrorSink([this](const QString& message) { m_texts << message; });
}

EventErrorRecorder::~EventErrorRecorder() {
    SetEventErrorSink({});
}
