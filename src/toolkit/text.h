#pragma once

#include <QString>

#include <exception>
#include <string>

// Captions are 8-bit text. Every byte maps to one character (Latin-1), so no
// byte sequence is ever rejected or altered on its way to the screen.
QString ToQString(const std::string &text);
std::string FromQString(const QString &text);

std::string IntToStr(int value);

class Exception : public std::exception
{
public:
    explicit Exception(std::string message);
    const std::string &Message() const noexcept { return message_; }
    const char *what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};
