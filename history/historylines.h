#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

namespace history {

// A list box counts its items in 16 bits: the history holds at most this many lines, and a
// larger stored count is a damaged file.
inline constexpr qint32 kMaxLines = 32767;

// The history's lines, oldest first, kept as one block of Latin-1 bytes and the end of each line:
// a full history costs about 1.3 MB and no object per line, and stored bytes never change.
class HistoryLines {
public:
    [[nodiscard]] qsizetype size() const { return static_cast<qsizetype>(mEnds.size()); }
    [[nodiscard]] bool isEmpty() const { return mEnds.empty(); }
    [[nodiscard]] QByteArrayView at(qsizetype position) const;
    // The line as text: each byte is one character, so every byte shows and none is lost.
    [[nodiscard]] QString text(qsizetype position) const;

    void append(QByteArrayView line);
    // Adds the lines at the end in one go: for a history read from its file.
    void append(const std::vector<QByteArrayView>& lines);
    void removeLast();

    // The same lines, byte for byte; the tests compare histories with it.
    friend bool operator==(const HistoryLines& a, const HistoryLines& b);

private:
    QByteArray mBytes;
    std::vector<qsizetype> mEnds;
};

} // namespace history
