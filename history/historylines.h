#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

namespace history {

// The history holds at most this many lines, the largest count of 16 bits with a sign; a larger
// stored count is a damaged file.
inline constexpr qint32 kMaxLines = 32767;

// A line that the draw makes: six different numbers from 01 to 43, two digits each, in ascending
// order, joined by kLineSeparator.
inline constexpr int kNumbersPerLine = 6;
inline constexpr int kHighestNumber = 43;
inline constexpr QByteArrayView kLineSeparator = "  ;  ";
bool isDrawnLine(QByteArrayView text);

// The history's lines, oldest first, as slices of bytes: the lines read from the file stay in
// the bytes read, shared rather than copied, and later lines go into one block of their own. A
// full history costs about 1.8 MB and no object per line, and stored bytes never change.
class HistoryLines {
public:
    HistoryLines() = default;
    // count empty lines over the bytes source, which is kept, not copied; set() fills them in.
    HistoryLines(QByteArray source, qsizetype count);

    [[nodiscard]] qsizetype size() const { return static_cast<qsizetype>(mSlices.size()); }
    [[nodiscard]] bool isEmpty() const { return mSlices.empty(); }
    [[nodiscard]] QByteArrayView at(qsizetype position) const
    {
        const Slice slice = mSlices[static_cast<std::size_t>(position)];
        const char* bytes = slice.offset < mSource.size()
                                ? mSource.constData() + slice.offset
                                : mAdded.constData() + (slice.offset - mSource.size());
        return {bytes, slice.length};
    }
    // The line as text for the screen and the page, in the characters its writer wrote.
    [[nodiscard]] QString text(qsizetype position) const;

    // The line at position made line: a slice of the source is kept as such, other text copied.
    void set(qsizetype position, QByteArrayView line);
    void append(QByteArrayView line);
    void removeLast();

    // The same lines, byte for byte; the tests compare histories with it.
    friend bool operator==(const HistoryLines& a, const HistoryLines& b);

private:
    // Where a line is: in the bytes read, or past their end in the added block.
    struct Slice {
        qint32 offset;
        qint32 length;
    };

    QByteArray mSource;
    QByteArray mAdded;
    std::vector<Slice> mSlices;
};

} // namespace history
