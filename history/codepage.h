#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// Text in the encodings that history files and the system use: UTF-8, the code page of Japanese
// Windows (932) and the user's locale, converted by the C library's iconv.
namespace codepage {

// Bytes in the encoding named (an iconv name) as text; nothing when they are not of it.
std::optional<QString> decoded(const QByteArray& bytes, const char* codeset);

// Bytes from a file as the user wrote them: UTF-8, or else code page 932 as Japanese Windows
// writes it; bytes of neither show one character each.
QString fileText(const QByteArray& bytes);

// UTF-8 text in code page 932, as Windows hands a value of a Unicode profile file to a program
// of that code page: a character that the code page does not hold becomes "?".
QByteArray toCodePage932(QByteArrayView utf8);

// Whether a byte of code page 932 starts a character of two bytes.
bool isLeadByte(char c);

} // namespace codepage
