#include "support/MessageRecorder.h"

MessageRecorder::MessageRecorder(MsgResult answer)
    : m_answer(answer) {
    SetMessageBoxHook([this](const QString& text, MsgButtons) {
        m_texts << text;
        return m_answer;
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageBoxHook({});
}
