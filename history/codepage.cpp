#include "history/codepage.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstdint>
#ifdef _WIN32
#include <string>
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace codepage {

namespace {

constexpr auto kCodePage932 = "CP932";
// Every character takes at most four bytes of UTF-8, and at most two of code page 932.
constexpr qsizetype kMostUtf8Bytes = 4;

#ifdef _WIN32
// A converter between two of Windows' code pages, named as iconv names them.
class Converter {
public:
    Converter(const char* to, const char* from)
        : mTo(codePage(to))
        , mFrom(codePage(from))
    {
    }

    [[nodiscard]] bool isOpen() const { return mTo != 0 && mFrom != 0; }
    // Converts all of in onto the end of out; false when any of it does not convert.
    bool convert(QByteArrayView in, QByteArray& out) const
    {
        if (in.isEmpty()) {
            return true;
        }
        std::wstring wide(static_cast<std::size_t>(in.size()), L'\0');
        const int length = ::MultiByteToWideChar(mFrom, MB_ERR_INVALID_CHARS, in.data(),
                                                 static_cast<int>(in.size()), wide.data(),
                                                 static_cast<int>(wide.size()));
        if (length <= 0) {
            return false;
        }
        const qsizetype start = out.size();
        out.resize(start + in.size() * kMostUtf8Bytes);
        BOOL lost = FALSE;
        // Code page 932 has no best fit here: a character that it lacks does not convert.
        const int written = ::WideCharToMultiByte(mTo, mTo == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS,
                                                  wide.data(), length, out.data() + start,
                                                  static_cast<int>(in.size() * kMostUtf8Bytes),
                                                  nullptr, mTo == CP_UTF8 ? nullptr : &lost);
        out.truncate(start + qMax(written, 0));
        return written != 0 && !lost;
    }

private:
    static UINT codePage(const char* name)
    {
        const QByteArrayView given(name);
        return given == "UTF-8" ? CP_UTF8 : given == kCodePage932 ? 932U : 0U;
    }

    UINT mTo;
    UINT mFrom;
};
#else
// A converter between two encodings of iconv, closed when it goes out of scope.
class Converter {
public:
    Converter(const char* to, const char* from)
        : mConverter(::iconv_open(to, from))
    {
    }
    ~Converter()
    {
        if (isOpen()) {
            ::iconv_close(mConverter);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    [[nodiscard]] bool isOpen() const { return reinterpret_cast<std::intptr_t>(mConverter) != -1; }
    // Converts all of in onto the end of out; false when any of it does not convert.
    bool convert(QByteArrayView in, QByteArray& out) const
    {
        const qsizetype start = out.size();
        out.resize(start + in.size() * kMostUtf8Bytes);
        char* from = const_cast<char*>(in.data());
        std::size_t fromLeft = static_cast<std::size_t>(in.size());
        char* to = out.data() + start;
        std::size_t toLeft = static_cast<std::size_t>(in.size() * kMostUtf8Bytes);
        const std::size_t done = ::iconv(mConverter, &from, &fromLeft, &to, &toLeft);
        out.truncate(to - out.constData());
        return done != static_cast<std::size_t>(-1) && fromLeft == 0;
    }

private:
    iconv_t mConverter;
};
#endif

// The length in bytes of the UTF-8 character that starts with this byte.
qsizetype characterLength(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0xC0U ? 1 : byte < 0xE0U ? 2 : byte < 0xF0U ? 3 : 4;
}

bool isAscii(char c)
{
    return static_cast<unsigned char>(c) < 0x80U;
}

// Code page 932 text a character at a time, a byte that starts none shown as U+FFFD.
QString codePage932Text(QByteArrayView bytes)
{
    const Converter converter("UTF-8", kCodePage932);
    QByteArray utf8;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype length =
            std::min<qsizetype>(isLeadByte(bytes[at]) ? 2 : 1, bytes.size() - at);
        const qsizetype before = utf8.size();
        if (converter.isOpen() && converter.convert(bytes.sliced(at, length), utf8)) {
            at += length;
        } else {
            utf8.truncate(before);
            utf8 += "\xEF\xBF\xBD";
            ++at;
        }
    }
    return QString::fromUtf8(utf8);
}

} // namespace

std::optional<QString> decoded(QByteArrayView bytes, const char* codeset)
{
    const Converter converter("UTF-8", codeset);
    QByteArray utf8;
    if (!converter.isOpen() || !converter.convert(bytes, utf8)) {
        return std::nullopt;
    }
    return QString::fromUtf8(utf8);
}

QString fileText(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), isAscii)) {
        return QString::fromLatin1(bytes);
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    const bool isUtf8 = !utf8.hasError();
    if (isUtf8 &&
        std::any_of(bytes.begin(), bytes.end(), [](char c) { return characterLength(c) >= 3; })) {
        return text;
    }
    if (std::optional<QString> windows = decoded(bytes, kCodePage932)) {
        return *windows;
    }
    return isUtf8 ? text : codePage932Text(bytes);
}

QByteArray toCodePage932(QByteArrayView utf8)
{
    if (std::all_of(utf8.begin(), utf8.end(), isAscii)) {
        return utf8.toByteArray();
    }
    const Converter converter(kCodePage932, "UTF-8");
    QByteArray text;
    text.reserve(utf8.size());
    // A character at a time, so that one that does not convert takes only its own place.
    for (qsizetype at = 0; at < utf8.size();) {
        const qsizetype length = std::min(characterLength(utf8[at]), utf8.size() - at);
        const qsizetype before = text.size();
        if (!converter.isOpen() || !converter.convert(utf8.sliced(at, length), text)) {
            text.truncate(before);
            text += '?';
        }
        at += length;
    }
    return text;
}

bool isLeadByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x81U && byte <= 0x9FU) || (byte >= 0xE0U && byte <= 0xFCU);
}

} // namespace codepage
