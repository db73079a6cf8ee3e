#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// Text in the encodings that history files and the system use: UTF-8, the code page of Japanese
// Windows (932) and the user's locale, converted by the C library's iconv.
namespace codepage {

// Bytes in the encoding named (an iconv name) as text; nothing when they are not of it.
std::optional<QString> decoded(QByteArrayView bytes, const char* codeset);

// Bytes from a file as the user wrote them, for the screen and the page: code page 932 as
// Notepad on Japanese Windows writes it, or UTF-8 as a Linux editor does. Text of kana or kanji
// in UTF-8 mostly reads as code page 932 too, as other characters, while code page 932 text
// almost never reads as UTF-8 with a character of three bytes: such UTF-8 comes first. A byte
// that starts no character of either shows as U+FFFD.
QString fileText(QByteArrayView bytes);

// UTF-8 text in code page 932, as Windows hands a value of a Unicode profile file to a program
// of that code page: a character that the code page does not hold becomes "?".
QByteArray toCodePage932(QByteArrayView utf8);

// Whether a byte of code page 932 starts a character of two bytes.
bool isLeadByte(char c);

} // namespace codepage
