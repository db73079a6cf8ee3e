#include "history/profiledocument.h"

#include <algorithm>

namespace {

constexpr QByteArrayView kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
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

// The name of a section header line ("[name]"), or a null view for any other line.
QByteArrayView sectionName(QByteArrayView line)
{
    const QByteArrayView text = trimmed(line);
    if (!text.startsWith('[')) {
        return {};
    }
    const qsizetype close = text.indexOf(']');
    const QByteArrayView name = text.sliced(1, (close < 0 ? text.size() : close) - 1);
    return name.isNull() ? QByteArrayView("") : trimmed(name);
}

// The key of a "key=value" line, or a null view for comments and lines without "=".
QByteArrayView keyName(QByteArrayView line)
{
    const QByteArrayView text = trimmed(line);
    const qsizetype equals = text.indexOf('=');
    if (text.startsWith(';') || equals < 0) {
        return {};
    }
    const QByteArrayView key = trimmed(text.first(equals));
    return key.isNull() ? QByteArrayView("") : key;
}

QByteArray lowered(QByteArrayView name)
{
    return name.toByteArray().toLower();
}

// The first of equal names is the one that counts; later duplicates are ignored.
template <typename T> void insertFirst(QHash<QByteArray, T>& index, const QByteArray& name, T value)
{
    if (!index.contains(name)) {
        index.insert(name, value);
    }
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

} // namespace

ProfileDocument::ProfileDocument(QByteArrayView bytes)
{
    if (bytes.startsWith(kUtf8ByteOrderMark)) {
        mByteOrderMark = kUtf8ByteOrderMark.toByteArray();
        bytes = bytes.sliced(kUtf8ByteOrderMark.size());
    }
    mSections.emplace_back();
    bool lineEndSeen = false;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') {
            ++end;
        }
        qsizetype next = end;
        if (next < bytes.size()) {
            next +=
                (bytes[next] == '\r' && next + 1 < bytes.size() && bytes[next + 1] == '\n') ? 2 : 1;
        }
        QByteArray lineEnd = bytes.sliced(end, next - end).toByteArray();
        if (!lineEndSeen && !lineEnd.isEmpty()) {
            // New lines follow the file's own line ends.
            mLineEnd = lineEnd;
            lineEndSeen = true;
        }
        appendLine(bytes.sliced(start, end - start).toByteArray(), std::move(lineEnd));
        start = next;
    }
}

void ProfileDocument::appendLine(QByteArray text, QByteArray end)
{
    const QByteArrayView name = sectionName(text);
    Section& section = name.isNull() ? mSections.back() : addSection(name);
    const QByteArrayView key = name.isNull() ? keyName(text) : QByteArrayView();
    if (!key.isNull()) {
        const auto position = static_cast<qsizetype>(section.lines.size());
        insertFirst(section.keys, lowered(key), position);
        section.lastKeyLine = position;
    }
    section.lines.push_back({std::move(text), std::move(end)});
}

ProfileDocument::Section& ProfileDocument::addSection(QByteArrayView name)
{
    insertFirst(mSectionIndex, lowered(name), mSections.size());
    Section& section = mSections.emplace_back();
    section.lastKeyLine = 0;
    return section;
}

QByteArray ProfileDocument::value(QByteArrayView section, QByteArrayView key,
                                  QByteArrayView fallback, qsizetype capacity) const
{
    const auto found = mSectionIndex.constFind(lowered(section));
    if (found == mSectionIndex.cend()) {
        return cutToCapacity(fallback, capacity);
    }
    const Section& s = mSections[*found];
    const auto line = s.keys.constFind(lowered(key));
    if (line == s.keys.cend()) {
        return cutToCapacity(fallback, capacity);
    }
    const QByteArrayView text = s.lines[static_cast<std::size_t>(*line)].text;
    const QByteArrayView value = trimmed(text.sliced(text.indexOf('=') + 1));
    return cutToCapacity(unquoted(value), capacity);
}

void ProfileDocument::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    const auto found = mSectionIndex.constFind(lowered(section));
    if (found == mSectionIndex.cend()) {
        endLastLine();
        QByteArray header = '[' + section.toByteArray() + ']';
        appendLine(std::move(header), mLineEnd);
        insertKey(mSections.back(), key, value);
        return;
    }
    Section& s = mSections[*found];
    const auto line = s.keys.constFind(lowered(key));
    if (line == s.keys.cend()) {
        insertKey(s, key, value);
        return;
    }
    Line& existing = s.lines[static_cast<std::size_t>(*line)];
    // The key keeps the spelling it has in the file.
    existing.text = keyName(existing.text).toByteArray() + '=' + value.toByteArray();
    if (existing.end.isEmpty()) {
        existing.end = mLineEnd;
    }
}

void ProfileDocument::insertKey(Section& section, QByteArrayView key, QByteArrayView value)
{
    const qsizetype after = section.lastKeyLine;
    Line& previous = section.lines[static_cast<std::size_t>(after)];
    if (previous.end.isEmpty()) {
        previous.end = mLineEnd;
    }
    const qsizetype position = after + 1;
    // Only comments and other lines that are not keys follow the last key line, so inserting
    // here moves no line that the key index points at.
    section.lines.insert(section.lines.begin() + position,
                         {key.toByteArray() + '=' + value.toByteArray(), mLineEnd});
    insertFirst(section.keys, lowered(key), position);
    section.lastKeyLine = position;
}

void ProfileDocument::endLastLine()
{
    const auto last = std::find_if(mSections.rbegin(), mSections.rend(),
                                   [](const Section& section) { return !section.lines.empty(); });
    if (last != mSections.rend() && last->lines.back().end.isEmpty()) {
        last->lines.back().end = mLineEnd;
    }
}

QByteArray ProfileDocument::toBytes() const
{
    qsizetype size = mByteOrderMark.size();
    for (const Section& s : mSections) {
        for (const Line& line : s.lines) {
            size += line.text.size() + line.end.size();
        }
    }
    QByteArray bytes;
    bytes.reserve(size);
    bytes += mByteOrderMark;
    for (const Section& s : mSections) {
        for (const Line& line : s.lines) {
            bytes += line.text;
            bytes += line.end;
        }
    }
    return bytes;
}
