// Records every message box while alive and answers it.
#pragma once

#include "platform/MessageBox.h"

#include <QStringList>

class MessageRecorder final {
public:
    explicit MessageRecorder(MsgResult answer = MsgResult::Ok);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    const QStringList& texts() const { return m_texts; }
    void setAnswer(MsgResult answer) { m_answer = answer; }
    void clear() { m_texts.clear(); }

private:
    QStringList m_texts;
    MsgResult m_answer;
};
