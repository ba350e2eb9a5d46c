// Exception classes of the program, under the names the user sees in reports.
#pragma once

#include <exception>
#include <string>

// Base of every exception the program raises; carries the message text (UTF-8).
class Exception : public std::exception {
public:
    explicit Exception(std::string message)
        : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& Message() const noexcept { return m_message; }
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string m_message;
};

// A text that should have been a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EConvertError"; }
};

// Decimal text to a 32-bit integer: optional blanks, an optional sign, digits.
// Anything else raises EConvertError "'<text>' は整数ではありません".
int StrToInt(const std::string& text);
