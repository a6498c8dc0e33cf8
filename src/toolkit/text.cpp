#include "text.h"

QString ToQString(const std::string &text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::string FromQString(const QString &text)
{
    return text.toLatin1().toStdString();
}

std::string IntToStr(int value)
{
    return std::to_string(value);
}

Exception::Exception(std::string message) : message_(std::move(message)) {}
