// Records every message box while alive and answers it.
#pragma once

#include "window/widgets/MessageBox.h"

#include <QStringList>

class MessageRecorder final {
public:
    explicit MessageRecorder(MsgResult answer = MsgResult::Ok);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    const QStringList& texts() const { return m_texts; }
    // The explanation under each text, empty where a box has none.
    const QStringList& informativeTexts() const { return m_informative; }
    void setAnswer(MsgResult answer) { m_answer = answer; }
    void clear() {
        m_texts.clear();
        m_informative.clear();
    }

private:
    QStringList m_texts;
    QStringList m_informative;
    MsgResult m_answer;
};
