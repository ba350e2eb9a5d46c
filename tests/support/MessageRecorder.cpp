#include "support/MessageRecorder.h"

#include "window/widgets/ExceptionReport.h"

MessageRecorder::MessageRecorder(MsgResult answer)
    : m_answer(answer) {
    // Errors escaping a handler reach the box, as in the program.
    InstallExceptionReport();
    SetMessageBoxHook([this](const QString& text, MsgButtons, const QString& informative) {
        m_texts << text;
        m_informative << informative;
        return m_answer;
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageBoxHook({});
}
