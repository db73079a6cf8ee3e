#include "history/profiledocument.h"

#include <algorithm>
#include <array>
#include <optional>

namespace {

constexpr QByteArrayView kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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

// The key of a "key=value" line, or nothing for comments and lines without "=".
std::optional<QByteArrayView> keyName(QByteArrayView line)
{
    const QByteArrayView text = trimmed(line);
    const qsizetype equals = text.indexOf('=');
    if (text.startsWith(';') || equals < 0) {
        return std::nullopt;
    }
    return trimmed(text.first(equals));
}

QByteArrayView unquoted(QByteArrayView value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.sliced(1, value.size() - 2);
    }
    return value;
}

QByteArray cutToCapacity(QByteArrayView value, qsizetype capacity)
{
    const qsizetype limit = capacity > 0 ? capacity - 1 : 0;
    if (value.size() <= limit) {
        return value.toByteArray();
    }
    qsizetype cut = limit;
    // Back up over UTF-8 continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0U) == 0x80U) {
        --cut;
    }
    return value.first(cut).toByteArray();
}

QByteArray keyLine(QByteArrayView key, QByteArrayView value)
{
    QByteArray line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key).append('=').append(value);
    return line;
}

// The first of equal names is the one that counts; later duplicates are ignored.
template <typename T>
void insertFirst(QHash<ProfileDocument::Name, T>& index, ProfileDocument::Name name, T value)
{
    if (!index.contains(name)) {
        index.emplace(name, value);
    }
}

} // namespace

bool operator==(ProfileDocument::Name a, ProfileDocument::Name b) noexcept
{
    return a.text.size() == b.text.size() &&
           std::equal(a.text.begin(), a.text.end(), b.text.begin(),
                      [](char x, char y) { return lower(x) == lower(y); });
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

ProfileDocument::ProfileDocument(const QByteArray& bytes) : mSource(bytes)
{
    const QByteArrayView source(mSource);
    qsizetype start = 0;
    if (source.startsWith(kUtf8ByteOrderMark)) {
        mByteOrderMark = kUtf8ByteOrderMark;
        start = kUtf8ByteOrderMark.size();
    }
    mSections.emplace_back();
    bool lineEndSeen = false;
    while (start < source.size()) {
        qsizetype end = start;
        while (end < source.size() && source[end] != '\n' && source[end] != '\r') {
            ++end;
        }
        Line line{start, end - start, LineEnd::None, false, {}};
        qsizetype next = end;
        if (next < source.size()) {
            if (source[next] == '\r' && next + 1 < source.size() && source[next + 1] == '\n') {
                line.end = LineEnd::CrLf;
                next += 2;
            } else {
                line.end = source[next] == '\r' ? LineEnd::Cr : LineEnd::Lf;
                next += 1;
            }
            if (!lineEndSeen) {
                // New lines follow the file's own line ends.
                mLineEnd = line.end;
                lineEndSeen = true;
            }
        }
        appendLine(std::move(line));
        start = next;
    }
}

QByteArrayView ProfileDocument::textOf(const Line& line) const
{
    return line.rewritten ? QByteArrayView(line.text)
                          : QByteArrayView(mSource).sliced(line.offset, line.length);
}

void ProfileDocument::appendLine(Line line)
{
    const QByteArrayView text = textOf(line);
    if (const std::optional<QByteArrayView> name = sectionName(text)) {
        insertFirst(mSectionIndex, Name{*name}, mSections.size());
        mSections.emplace_back();
    } else if (const std::optional<QByteArrayView> key = keyName(text)) {
        Section& section = mSections.back();
        const auto position = static_cast<qsizetype>(section.lines.size());
        insertFirst(section.keys, Name{*key}, position);
        section.lastKeyLine = position;
    }
    mSections.back().lines.push_back(std::move(line));
}

QByteArray ProfileDocument::value(QByteArrayView section, QByteArrayView key,
                                  QByteArrayView fallback, qsizetype capacity) const
{
    const auto found = mSectionIndex.constFind(Name{section});
    if (found == mSectionIndex.cend()) {
        return cutToCapacity(fallback, capacity);
    }
    const Section& s = mSections[*found];
    const auto line = s.keys.constFind(Name{key});
    if (line == s.keys.cend()) {
        return cutToCapacity(fallback, capacity);
    }
    const QByteArrayView text = textOf(s.lines[static_cast<std::size_t>(*line)]);
    const QByteArrayView value = trimmed(text.sliced(text.indexOf('=') + 1));
    return cutToCapacity(unquoted(value), capacity);
}

QByteArrayView ProfileDocument::keep(QByteArrayView name)
{
    return mOwnedNames.emplace_back(name.toByteArray());
}

void ProfileDocument::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    const auto found = mSectionIndex.constFind(Name{section});
    if (found == mSectionIndex.cend()) {
        endLastLine();
        // The header's own text holds the name that the section index points at.
        appendLine({0, 0, mLineEnd, true, '[' + section.toByteArray() + ']'});
        insertKey(mSections.back(), key, value);
        return;
    }
    Section& s = mSections[*found];
    const auto line = s.keys.constFind(Name{key});
    if (line == s.keys.cend()) {
        insertKey(s, key, value);
        return;
    }
    Line& existing = s.lines[static_cast<std::size_t>(*line)];
    // The key keeps the spelling it has in the file.
    existing.text = keyLine(*keyName(textOf(existing)), value);
    existing.rewritten = true;
    if (existing.end == LineEnd::None) {
        existing.end = mLineEnd;
    }
}

void ProfileDocument::insertKey(Section& section, QByteArrayView key, QByteArrayView value)
{
    Line& previous = section.lines[static_cast<std::size_t>(section.lastKeyLine)];
    if (previous.end == LineEnd::None) {
        previous.end = mLineEnd;
    }
    const qsizetype position = section.lastKeyLine + 1;
    const QByteArrayView name = keep(key);
    // Only comments and other lines that are not keys follow the last key line, so inserting
    // here moves no line that the key index points at.
    section.lines.insert(section.lines.begin() + position,
                         {0, 0, mLineEnd, true, keyLine(name, value)});
    insertFirst(section.keys, Name{name}, position);
    section.lastKeyLine = position;
}

void ProfileDocument::endLastLine()
{
    const auto last = std::find_if(mSections.rbegin(), mSections.rend(),
                                   [](const Section& section) { return !section.lines.empty(); });
    if (last != mSections.rend() && last->lines.back().end == LineEnd::None) {
        last->lines.back().end = mLineEnd;
    }
}

QByteArray ProfileDocument::toBytes() const
{
    static constexpr std::array<QByteArrayView, 4> kEnds{"", "\r\n", "\n", "\r"};
    qsizetype size = mByteOrderMark.size();
    for (const Section& s : mSections) {
        for (const Line& line : s.lines) {
            size += textOf(line).size() + 2;
        }
    }
    QByteArray bytes;
    bytes.reserve(size);
    bytes += mByteOrderMark;
    for (const Section& s : mSections) {
        for (const Line& line : s.lines) {
            bytes += textOf(line);
            bytes += kEnds.at(static_cast<std::size_t>(line.end));
        }
    }
    return bytes;
}
