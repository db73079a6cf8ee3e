#include "history/profiledocument.h"

#include "history/codepage.h"

#include <QChar>
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace history {

namespace {

constexpr QByteArrayView kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr QByteArrayView kUtf16LeByteOrderMark = "\xFF\xFE";
constexpr int kDecimalBase = 10;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

// The name of a section header line ("[name]"), or nothing for any other line.
std::optional<QByteArrayView> sectionName(QByteArrayView line)
{
    const QByteArrayView text = trimmed(line);
    if (!text.startsWith('[')) {
        return std::nullopt;
    }
    const qsizetype close = text.indexOf(']');
    return trimmed(text.sliced(1, (close < 0 ? text.size() : close) - 1));
}

// A key line taken apart: the key, trimmed, and the text after the first "=". A line without "="
// that is no comment names its key without a value, as the Windows profile functions take it:
// read, it gives the default; written, it gets the value.
struct KeyLine {
    QByteArrayView key;
    std::optional<QByteArrayView> rest;
};

// The parts of a key line, or nothing for section headers, comments and blank lines.
std::optional<KeyLine> splitKeyLine(QByteArrayView line)
{
    const QByteArrayView text = trimmed(line);
    if (text.isEmpty() || text.startsWith(';') || text.startsWith('[')) {
        return std::nullopt;
    }
    // Keys are short: the "=" is found sooner by a look at each byte than by a library call.
    const auto equals = std::find(text.begin(), text.end(), '=');
    if (equals == text.end()) {
        return KeyLine{text, std::nullopt};
    }
    const qsizetype split = equals - text.begin();
    return KeyLine{trimmed(text.first(split)), text.sliced(split + 1)};
}

std::optional<QByteArrayView> keyName(QByteArrayView line)
{
    const std::optional<KeyLine> parts = splitKeyLine(line);
    return parts ? std::optional(parts->key) : std::nullopt;
}

// The first line end ("\n" or "\r") in [from, end), or end. Lines are short and files long:
// sixteen bytes are looked at together, which halves the cold parse of a full history before
// the window's first paint.
const char* lineEnd(const char* from, const char* end)
{
#if defined(__SSE2__)
    constexpr std::ptrdiff_t kBlock = sizeof(__m128i);
    const __m128i lineFeeds = _mm_set1_epi8('\n');
    const __m128i returns = _mm_set1_epi8('\r');
    while (end - from >= kBlock) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const auto marks = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeeds), _mm_cmpeq_epi8(bytes, returns))));
        if (marks != 0) {
            return from + std::countr_zero(marks);
        }
        from += kBlock;
    }
#endif
    while (from < end && *from != '\n' && *from != '\r') {
        ++from;
    }
    return from;
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

void appendUtf8(QByteArray& text, char32_t c)
{
    if (c < 0x80U) {
        text += static_cast<char>(c);
    } else if (c < 0x800U) {
        text += static_cast<char>(0xC0U | (c >> 6U));
        text += static_cast<char>(0x80U | (c & 0x3FU));
    } else if (c < 0x10000U) {
        text += static_cast<char>(0xE0U | (c >> 12U));
        text += static_cast<char>(0x80U | ((c >> 6U) & 0x3FU));
        text += static_cast<char>(0x80U | (c & 0x3FU));
    } else {
        text += static_cast<char>(0xF0U | (c >> 18U));
        text += static_cast<char>(0x80U | ((c >> 12U) & 0x3FU));
        text += static_cast<char>(0x80U | ((c >> 6U) & 0x3FU));
        text += static_cast<char>(0x80U | (c & 0x3FU));
    }
}

// UTF-16LE as UTF-8 that keeps a lone surrogate as three bytes of its own, as WTF-8 does, so that
// every file converts back to exactly its bytes.
QByteArray fromUtf16Le(QByteArrayView bytes)
{
    const qsizetype units = bytes.size() / 2;
    const auto unit = [bytes](qsizetype i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8U));
    };
    QByteArray text;
    text.reserve(units);
    for (qsizetype i = 0; i < units; ++i) {
        char32_t c = unit(i);
        if (QChar::isHighSurrogate(c) && i + 1 < units && QChar::isLowSurrogate(unit(i + 1))) {
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), unit(++i));
        }
        appendUtf8(text, c);
    }
    return text;
}

// The character at the start of UTF-8 text and its length in bytes; a byte that starts no
// character stands for itself.
std::pair<char32_t, qsizetype> nextCharacter(QByteArrayView text)
{
    const auto byte = [text](qsizetype i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    const qsizetype length = first < 0xC0U ? 1 : first < 0xE0U ? 2 : first < 0xF0U ? 3 : 4;
    if (first < 0x80U || first >= 0xF8U || length > text.size()) {
        return {first, 1};
    }
    char32_t c = first & (0x7FU >> length);
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0U) != 0x80U) {
            return {first, 1};
        }
        c = (c << 6U) | (byte(i) & 0x3FU);
    }
    return {c, length};
}

QByteArray toUtf16Le(QByteArrayView text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    const auto appendUnit = [&bytes](char16_t unit) {
        bytes += static_cast<char>(unit & 0xFFU);
        bytes += static_cast<char>(unit >> 8U);
    };
    while (!text.isEmpty()) {
        const auto [c, length] = nextCharacter(text);
        if (QChar::requiresSurrogates(c)) {
            appendUnit(QChar::highSurrogate(c));
            appendUnit(QChar::lowSurrogate(c));
        } else {
            appendUnit(static_cast<char16_t>(c));
        }
        text = text.sliced(length);
    }
    return bytes;
}

// The longest start of value that fits a receive buffer of capacity bytes and ends between two
// characters of code page 932 (Japanese Windows).
QByteArrayView cut(QByteArrayView value, qsizetype capacity)
{
    const qsizetype limit = capacity > 0 ? capacity - 1 : 0;
    if (value.size() <= limit) {
        return value;
    }
    // A trail byte can look like a lead byte: the characters are counted from the start.
    qsizetype end = 0;
    for (qsizetype next = 0; next <= limit; next += codepage::isLeadByte(value[next]) ? 2 : 1) {
        end = next;
    }
    return value.first(end);
}

// The value of a key line, from the text after its "=", as the program reads it: trimmed, one
// pair of outer quotes removed, in code page 932 (a Unicode file's value converted into storage),
// cut like a receive buffer, and ended at its first NUL as text read from a buffer is.
QByteArrayView readValue(QByteArrayView rest, qsizetype capacity,
                         ProfileDocument::Encoding encoding, QByteArray& storage)
{
    QByteArrayView value = trimmed(rest);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.sliced(1, value.size() - 2);
    }
    if (encoding == ProfileDocument::Encoding::Utf16) {
        storage = codepage::toCodePage932(value);
        value = storage;
    }
    value = cut(value, capacity);
    const auto* nul = value.isEmpty()
                          ? nullptr
                          : static_cast<const char*>(std::memchr(
                                value.data(), '\0', static_cast<std::size_t>(value.size())));
    return nul == nullptr ? value : value.first(nul - value.data());
}

// The number written in the digits that start text, without sign or leading zero, and how many
// digits were read: 0 for no digits, a leading zero or a number above highest.
std::pair<qint32, qsizetype> leadingNumber(QByteArrayView text, qint32 highest)
{
    if (text.startsWith('0')) {
        return {0, 0};
    }
    qint64 number = 0;
    qsizetype used = 0;
    for (; used < text.size() && text[used] >= '0' && text[used] <= '9'; ++used) {
        number = number * kDecimalBase + (text[used] - '0');
        if (number > highest) {
            return {0, used};
        }
    }
    return {static_cast<qint32>(number), used};
}

// The number n of a key "<prefix>n" written without sign or leading zero, or 0.
qint32 keyNumber(QByteArrayView key, QByteArrayView prefix, qint32 highest)
{
    if (key.size() <= prefix.size() || !sameName(key.first(prefix.size()), prefix)) {
        return 0;
    }
    const QByteArrayView digits = key.sliced(prefix.size());
    const auto [number, used] = leadingNumber(digits, highest);
    return used == digits.size() ? number : 0;
}

QByteArray keyLine(QByteArrayView key, QByteArrayView value)
{
    QByteArray line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key).append('=').append(value);
    return line;
}

} // namespace

bool operator==(ProfileDocument::Name a, ProfileDocument::Name b) noexcept
{
    return sameName(a.text, b.text);
}

size_t qHash(ProfileDocument::Name name, size_t seed) noexcept
{
    // FNV-1a over the lower-case bytes, mixed with the seed.
    size_t hash = 14695981039346656037ULL ^ seed;
    for (const char c : name.text) {
        hash = (hash ^ static_cast<unsigned char>(lower(c))) * 1099511628211ULL;
    }
    return hash;
}

ProfileDocument::ProfileDocument(const QByteArray& bytes)
    : mSource(bytes)
    , mRead(bytes)
{
    if (bytes.startsWith(kUtf16LeByteOrderMark)) {
        mEncoding = Encoding::Utf16;
        mByteOrderMark = kUtf16LeByteOrderMark;
        const QByteArrayView units = QByteArrayView(bytes).sliced(mByteOrderMark.size());
        mSource = fromUtf16Le(units);
        mOddByte = units.sliced(units.size() / 2 * 2).toByteArray();
    } else if (bytes.startsWith(kUtf8ByteOrderMark)) {
        mByteOrderMark = kUtf8ByteOrderMark;
    }
}

template <typename F> void ProfileDocument::forEachSourceLine(F f) const
{
    const char* const begin = mSource.constData();
    const char* const end = begin + mSource.size();
    const char* start = begin + (mEncoding == Encoding::Bytes ? mByteOrderMark.size() : 0);
    while (start < end) {
        const char* stop = lineEnd(start, end);
        Line line{start - begin, static_cast<qint32>(stop - start), LineEnd::None, false};
        const char* next = stop;
        if (next < end) {
            if (*next == '\r' && next + 1 < end && next[1] == '\n') {
                line.end = LineEnd::CrLf;
                next += 2;
            } else {
                line.end = *next == '\r' ? LineEnd::Cr : LineEnd::Lf;
                next += 1;
            }
        }
        if (!f(line)) {
            return;
        }
        start = next;
    }
}

template <typename F> void ProfileDocument::forEachReadLineOf(QByteArrayView section, F f) const
{
    // The first section of the name holds the keys; it ends at the next section header.
    bool inside = false;
    forEachSourceLine([&](const Line& line) {
        // Lines read are never written: their text is where they were read.
        const QByteArrayView text(mSource.constData() + line.offset, line.length);
        if (const std::optional<QByteArrayView> name = sectionName(text)) {
            if (inside) {
                return false;
            }
            inside = sameName(*name, section);
            return true;
        }
        return !inside || f(text);
    });
}

void ProfileDocument::parse()
{
    if (mParsed) {
        return;
    }
    mParsed = true;
    mSections.emplace_back();
    bool lineEndSeen = false;
    forEachSourceLine([this, &lineEndSeen](const Line& line) {
        if (!lineEndSeen && line.end != LineEnd::None) {
            // New lines follow the file's own line ends.
            mLineEnd = line.end;
            lineEndSeen = true;
        }
        appendLine(line);
        return true;
    });
}

ProfileDocument::Line& ProfileDocument::Section::at(qsizetype slot)
{
    const auto index = static_cast<std::size_t>(slot);
    return index < lines.size() ? lines[index] : added[index - lines.size()];
}

const ProfileDocument::Line& ProfileDocument::Section::at(qsizetype slot) const
{
    const auto index = static_cast<std::size_t>(slot);
    return index < lines.size() ? lines[index] : added[index - lines.size()];
}

ProfileDocument::Line& ProfileDocument::Section::lastLine()
{
    const bool addedLast = lastKeyLine + 1 == static_cast<qsizetype>(lines.size());
    return !added.empty() && addedLast ? added.back() : lines.back();
}

template <typename F> void ProfileDocument::Section::forEachLine(F f) const
{
    const auto split = lines.begin() + (lines.empty() ? 0 : lastKeyLine + 1);
    std::for_each(lines.begin(), split, f);
    std::for_each(added.begin(), added.end(), f);
    std::for_each(split, lines.end(), f);
}

QByteArrayView ProfileDocument::textOf(const Line& line) const
{
    if (line.written) {
        return mWritten[static_cast<std::size_t>(line.offset)];
    }
    return QByteArrayView(mSource).sliced(line.offset, line.length);
}

ProfileDocument::Line ProfileDocument::ownLine(QByteArray text)
{
    const auto index = static_cast<qsizetype>(mWritten.size());
    const auto length = static_cast<qint32>(text.size());
    mWritten.push_back(std::move(text));
    return {index, length, mLineEnd, true};
}

void ProfileDocument::appendLine(const Line& line)
{
    const QByteArrayView text = textOf(line);
    if (const std::optional<QByteArrayView> name = sectionName(text)) {
        std::size_t& first = mSectionIndex[Name{*name}];
        if (first == 0) {
            first = mSections.size() + 1;
        }
        mSections.emplace_back();
    } else if (keyName(text)) {
        mSections.back().lastKeyLine = static_cast<qsizetype>(mSections.back().lines.size());
    }
    mSections.back().lines.push_back(line);
}

const ProfileDocument::Section* ProfileDocument::findSection(QByteArrayView name) const
{
    const auto found = mSectionIndex.constFind(Name{name});
    return found == mSectionIndex.cend() ? nullptr : &mSections[*found - 1];
}

qsizetype ProfileDocument::findKey(const Section& section, QByteArrayView key) const
{
    if (!section.keys.isEmpty()) {
        return section.keys.value(Name{key}) - 1;
    }
    // Until the first write nothing is added, and a read looks through the lines read; the
    // first match is the key.
    for (std::size_t i = 0; i < section.lines.size(); ++i) {
        const std::optional<QByteArrayView> name = keyName(textOf(section.lines[i]));
        if (name && sameName(*name, key)) {
            return static_cast<qsizetype>(i);
        }
    }
    return -1;
}

void ProfileDocument::indexKeys(Section& section)
{
    if (!section.keys.isEmpty()) {
        return;
    }
    section.keys.reserve(static_cast<qsizetype>(section.lines.size()));
    for (std::size_t i = 0; i < section.lines.size(); ++i) {
        if (const std::optional<QByteArrayView> name = keyName(textOf(section.lines[i]))) {
            qsizetype& first = section.keys[Name{*name}];
            if (first == 0) {
                first = static_cast<qsizetype>(i) + 1;
            }
        }
    }
}

QByteArray ProfileDocument::value(QByteArrayView section, QByteArrayView key,
                                  QByteArrayView fallback, qsizetype capacity) const
{
    std::optional<KeyLine> found;
    if (!mParsed) {
        // Until the first write the bytes read are all there is: no table of lines is needed.
        forEachReadLineOf(section, [&](QByteArrayView text) {
            const std::optional<KeyLine> parts = splitKeyLine(text);
            if (parts && sameName(parts->key, key)) {
                found = parts;
                return false;
            }
            return true;
        });
    } else if (const Section* lines = findSection(section)) {
        const qsizetype line = findKey(*lines, key);
        if (line >= 0) {
            found = splitKeyLine(textOf(lines->at(line)));
        }
    }
    if (!found || !found->rest) {
        return cut(fallback, capacity).toByteArray();
    }
    QByteArray storage;
    return readValue(*found->rest, capacity, mEncoding, storage).toByteArray();
}

void ProfileDocument::numberedValues(QByteArrayView section, QByteArrayView prefix, qint32 count,
                                     qsizetype capacity,
                                     const std::function<void(qint32, QByteArrayView)>& found) const
{
    // The first line of a key is its value; later lines of the same key are not read.
    std::vector<bool> seen(static_cast<std::size_t>(std::max(count, 0)));
    QByteArray storage;
    const auto take = [&](QByteArrayView text) {
        qint32 number = 0;
        std::optional<QByteArrayView> rest;
        if (const std::optional<KeyLine> parts = splitKeyLine(text)) {
            number = keyNumber(parts->key, prefix, count);
            rest = parts->rest;
        }
        if (number > 0 && !seen[static_cast<std::size_t>(number - 1)]) {
            seen[static_cast<std::size_t>(number - 1)] = true;
            // A key without a value reads as a missing one; an empty value is a value.
            if (rest) {
                const QByteArrayView value = readValue(*rest, capacity, mEncoding, storage);
                found(number, value.isNull() ? QByteArrayView("") : value);
            }
        }
        return true;
    };
    if (!mParsed) {
        forEachReadLineOf(section, take);
        return;
    }
    if (const Section* lines = findSection(section)) {
        lines->forEachLine([&](const Line& line) { take(textOf(line)); });
    }
}

void ProfileDocument::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    parse();
    const auto found = mSectionIndex.constFind(Name{section});
    if (found == mSectionIndex.cend()) {
        endLastLine();
        // The header's own text holds the name that the section index points at.
        appendLine(ownLine('[' + section.toByteArray() + ']'));
        insertKey(mSections.back(), key, value);
        return;
    }
    Section& s = mSections[*found - 1];
    indexKeys(s);
    const qsizetype line = s.keys.value(Name{key}) - 1;
    if (line < 0) {
        insertKey(s, key, value);
        return;
    }
    Line& existing = s.at(line);
    // The key keeps the spelling it has in the file; the index still points at the old text,
    // which stays where it is.
    const LineEnd end = existing.end == LineEnd::None ? mLineEnd : existing.end;
    existing = ownLine(keyLine(*keyName(textOf(existing)), value));
    existing.end = end;
}

void ProfileDocument::insertKey(Section& section, QByteArrayView key, QByteArrayView value)
{
    Line& previous = section.added.empty()
                         ? section.lines[static_cast<std::size_t>(section.lastKeyLine)]
                         : section.added.back();
    if (previous.end == LineEnd::None) {
        previous.end = mLineEnd;
    }
    // Added keys are kept apart from the lines read, so adding one moves no other line: a
    // section with many lines after its last key still takes each new key in constant time.
    section.added.push_back(ownLine(keyLine(key, value)));
    const QByteArrayView text = textOf(section.added.back());
    const auto slot = static_cast<qsizetype>(section.lines.size() + section.added.size() - 1);
    section.keys.insert(Name{text.first(key.size())}, slot + 1);
}

void ProfileDocument::endLastLine()
{
    const auto last = std::find_if(mSections.rbegin(), mSections.rend(),
                                   [](const Section& section) { return !section.lines.empty(); });
    // Only the file's very last line can lack a line end.
    if (last != mSections.rend() && last->lastLine().end == LineEnd::None) {
        last->lastLine().end = mLineEnd;
    }
}

QByteArray ProfileDocument::toBytes() const
{
    if (!mParsed) {
        return mRead;
    }
    static constexpr std::array<QByteArrayView, 4> kEnds{"", "\r\n", "\n", "\r"};
    qsizetype size = mByteOrderMark.size();
    for (const Section& s : mSections) {
        s.forEachLine([&](const Line& line) { size += textOf(line).size() + 2; });
    }
    QByteArray bytes;
    bytes.reserve(size);
    bytes += mByteOrderMark;
    for (const Section& s : mSections) {
        s.forEachLine([&](const Line& line) {
            bytes += textOf(line);
            bytes += kEnds.at(static_cast<std::size_t>(line.end));
        });
    }
    if (mEncoding == Encoding::Utf16) {
        return mByteOrderMark.toByteArray() +
               toUtf16Le(QByteArrayView(bytes).sliced(mByteOrderMark.size())) + mOddByte;
    }
    return bytes;
}

} // namespace history
