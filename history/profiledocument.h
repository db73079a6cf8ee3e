#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <deque>
#include <functional>
#include <vector>

namespace history {

// An INI file of the Windows profile format held in memory. Values are read and written the way
// the Windows profile functions do it; every byte that a write does not touch stays as it was.
// A file that starts with the UTF-16LE byte-order mark is a Unicode file, as on Windows: it is
// held as UTF-8 and written back in UTF-16LE, and its values are read in code page 932, as
// Windows hands them to a program of that code page.
class ProfileDocument {
public:
    enum class Encoding { Bytes, Utf16 };

    ProfileDocument() = default;
    explicit ProfileDocument(const QByteArray& bytes);

    // The value of key in section, or fallback when either is missing or the key's line has no
    // "=". Like a receive buffer of capacity bytes, the value is cut to capacity - 1 bytes, never
    // inside a character of code page 932, and ends before its first NUL.
    [[nodiscard]] QByteArray value(QByteArrayView section, QByteArrayView key,
                                   QByteArrayView fallback, qsizetype capacity) const;

    // The values of the keys prefix1 up to prefix<count> in one pass, as value() reads them one
    // by one: found(n, value) is called once for each key that has a value. A view is valid
    // during its call.
    void numberedValues(QByteArrayView section, QByteArrayView prefix, qint32 count,
                        qsizetype capacity,
                        const std::function<void(qint32, QByteArrayView)>& found) const;

    // Replaces the value of an existing key in place (also of a key line without "="), or adds
    // the key after the last key of its section, or adds the section at the end of the document.
    void setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);

    [[nodiscard]] QByteArray toBytes() const;
    // The bytes read (of a Unicode file, as UTF-8), into which the values read point.
    [[nodiscard]] const QByteArray& source() const { return mSource; }

    // A section or key name compared and hashed without regard to ASCII case.
    struct Name {
        QByteArrayView text;
        friend bool operator==(Name a, Name b) noexcept;
    };

private:
    enum class LineEnd : quint8 { None, CrLf, Lf, Cr };
    // A line of the file: a slice of the bytes read, or of a text that a write gave it.
    struct Line {
        qsizetype offset = 0;
        qint32 length = 0;
        LineEnd end = LineEnd::None;
        bool written = false; // offset counts in mWritten's texts instead of the bytes read
    };
    // A section's lines: as read, and the keys that writes added after its last key line. A
    // line's slot is its index in lines, or lines.size() + its index in added.
    struct Section {
        std::vector<Line> lines;     // the header line first, except in the preamble
        qsizetype lastKeyLine = 0;   // the last key line read; added keys follow it
        std::vector<Line> added;     // in the order of the writes
        QHash<Name, qsizetype> keys; // slot + 1 of each key's first line, made by the first write

        [[nodiscard]] Line& at(qsizetype slot);
        [[nodiscard]] const Line& at(qsizetype slot) const;
        // The section's last line in the order of the file.
        [[nodiscard]] Line& lastLine();
        // Calls f with every line in the order of the file.
        template <typename F> void forEachLine(F f) const;
    };

    // Calls f with each line of the bytes read while it returns true.
    template <typename F> void forEachSourceLine(F f) const;
    // Calls f with the text of each line read of the section's first occurrence while it returns
    // true: what a read finds before any write.
    template <typename F> void forEachReadLineOf(QByteArrayView section, F f) const;
    // Makes the table of lines that writes change; reads do without it until then.
    void parse();
    [[nodiscard]] QByteArrayView textOf(const Line& line) const;
    [[nodiscard]] const Section* findSection(QByteArrayView name) const;
    [[nodiscard]] qsizetype findKey(const Section& section, QByteArrayView key) const;
    void indexKeys(Section& section);
    Line ownLine(QByteArray text);
    void appendLine(const Line& line);
    void endLastLine();
    void insertKey(Section& section, QByteArrayView key, QByteArrayView value);

    // The bytes read (of a Unicode file, as UTF-8). Lines and names point into them or into
    // mWritten, whose texts a deque never moves: both stay where they are for the document's life.
    QByteArray mSource;
    QByteArray mRead; // the bytes as given, written back while nothing is changed
    bool mParsed = false;
    Encoding mEncoding = Encoding::Bytes;
    QByteArray mOddByte; // a Unicode file's last byte when its length is odd
    std::deque<QByteArray> mWritten;
    QByteArrayView mByteOrderMark;
    LineEnd mLineEnd = LineEnd::CrLf;       // the file's own line end, for the lines added
    std::vector<Section> mSections;         // the lines before any section come first
    QHash<Name, std::size_t> mSectionIndex; // first section + 1 of each name
};

size_t qHash(ProfileDocument::Name name, size_t seed) noexcept;

} // namespace history
