// What a call raised: the exception's class name and message, empty when it returned.
#pragma once

#include "core/platform/Exceptions.h"

#include <QString>

struct Raised {
    QString className;
    QString message;
};

template <typename F>
Raised RaisedBy(F&& call) {
    try {
        call();
    } catch (const Exception& e) {
        return {QString::fromLatin1(e.ClassName()), QString::fromStdString(e.Message())};
    }
    return {};
}
