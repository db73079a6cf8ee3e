#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#include <deque>
#include <vector>

// An INI file of the Windows profile format held in memory. Values are read and written the way
// the Windows profile functions do it; every byte that a write does not touch stays as it was.
class ProfileDocument {
public:
    ProfileDocument() = default;
    explicit ProfileDocument(const QByteArray& bytes);

    // The value of key in section, or fallback when either is missing. Like a receive buffer of
    // capacity bytes, the value is cut to capacity - 1 bytes (never inside a UTF-8 character).
    [[nodiscard]] QByteArray value(QByteArrayView section, QByteArrayView key,
                                   QByteArrayView fallback, qsizetype capacity) const;

    // Replaces the value of an existing key in place, or adds the key after the last key of its
    // section, or adds the section at the end of the document.
    void setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);

    [[nodiscard]] QByteArray toBytes() const;

    // A section or key name compared and hashed without regard to ASCII case.
    struct Name {
        QByteArrayView text;
        friend bool operator==(Name a, Name b) noexcept;
    };

private:
    enum class LineEnd : quint8 { None, CrLf, Lf, Cr };
    // A line of the file: a slice of the bytes read, until a write gives it text of its own.
    struct Line {
        qsizetype offset = 0;
        qsizetype length = 0;
        LineEnd end = LineEnd::None;
        bool rewritten = false;
        QByteArray text; // the line's text once rewritten or added
    };
    struct Section {
        std::vector<Line> lines;         // the header line first, except in the preamble
        QHash<Name, qsizetype> keys;     // first line of each key
        qsizetype lastKeyLine = 0;       // new keys go after this line
    };

    [[nodiscard]] QByteArrayView textOf(const Line& line) const;
    void appendLine(Line line);
    void endLastLine();
    void insertKey(Section& section, QByteArrayView key, QByteArrayView value);
    QByteArrayView keep(QByteArrayView name);

    // The bytes read. Lines and names point into them, or into the text of an added line, or
    // into mOwnedNames: all three stay where they are for the document's life.
    QByteArray mSource;
    std::deque<QByteArray> mOwnedNames; // names added by writes; a deque never moves them
    QByteArrayView mByteOrderMark;
    LineEnd mLineEnd = LineEnd::CrLf;   // the file's own line end, for the lines added
    std::vector<Section> mSections;     // the lines before any section come first
    QHash<Name, std::size_t> mSectionIndex; // first section of each name
};

size_t qHash(ProfileDocument::Name name, size_t seed) noexcept;
