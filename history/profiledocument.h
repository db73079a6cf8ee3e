#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <vector>

// An INI file of the Windows profile format held in memory. Values are read and written the way
// the Windows profile functions do it; every byte that a write does not touch stays as it was.
class ProfileDocument {
public:
    ProfileDocument() = default;
    explicit ProfileDocument(QByteArrayView bytes);

    // The value of key in section, or fallback when either is missing. Like a receive buffer of
    // capacity bytes, the value is cut to capacity - 1 bytes (never inside a UTF-8 character).
    [[nodiscard]] QByteArray value(QByteArrayView section, QByteArrayView key,
                                   QByteArrayView fallback, qsizetype capacity) const;

    // Replaces the value of an existing key in place, or adds the key after the last key of its
    // section, or adds the section at the end of the document.
    void setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);

    [[nodiscard]] QByteArray toBytes() const;

private:
    struct Line {
        QByteArray text;
        QByteArray end; // "\r\n", "\n", "\r", or empty for a last line without a line break
    };
    struct Section {
        std::vector<Line> lines;           // the header line first, except in the preamble
        QHash<QByteArray, qsizetype> keys; // lower-case key name -> its first line
        qsizetype lastKeyLine = 0;         // new keys go after this line
    };

    void appendLine(QByteArray text, QByteArray end);
    void endLastLine();
    Section& addSection(QByteArrayView name);
    void insertKey(Section& section, QByteArrayView key, QByteArrayView value);

    QByteArray mByteOrderMark;
    QByteArray mLineEnd = QByteArrayLiteral("\r\n"); // used for the lines this document adds
    std::vector<Section> mSections;                  // the lines before any section come first
    QHash<QByteArray, std::size_t> mSectionIndex;    // lower-case name -> first such section
};
