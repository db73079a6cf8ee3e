#include "history/profiledocument.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

using Write = QByteArrayList; // section, key, value

namespace {

// The bytes of text in UTF-16LE behind its byte-order mark, as Notepad saves "Unicode".
QByteArray utf16(const QString& text)
{
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text) {
        bytes += static_cast<char>(c.unicode() & 0xFFU);
        bytes += static_cast<char>(c.unicode() >> 8U);
    }
    return bytes;
}

// What the one-pass read of numbered keys finds for a key "<prefix>n", or nothing for a key of
// another form.
std::optional<QByteArray> numberedValue(const history::ProfileDocument& document,
                                        QByteArrayView section, QByteArrayView key, int capacity)
{
    qsizetype split = key.size();
    while (split > 0 && key[split - 1] >= '0' && key[split - 1] <= '9') {
        --split;
    }
    if (split == 0 || split == key.size() || key[split] == '0') {
        return std::nullopt;
    }
    const int number = key.sliced(split).toInt();
    QByteArray found = "d";
    document.numberedValues(section, key.first(split), number, capacity,
                            [&found, number](qint32 n, QByteArrayView value) {
                                if (n == number) {
                                    found = value.toByteArray();
                                }
                            });
    return found;
}

} // namespace

class TestProfileDocument : public QObject {
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void writing_data();
    void writing();
    void writeThenReadBack();
};

void TestProfileDocument::reading_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArray>("value");

    const QByteArray names = "[s]\r\nname3\r\nname4=val4\r\n";
    QTest::newRow("blanks around key and value")
        << QByteArray("[S]\r\n  k \t=\t v \r\n") << QByteArray("S") << QByteArray("k") << 256
        << QByteArray("v");
    QTest::newRow("one pair of double quotes removed")
        << QByteArray("[S]\r\na=  \"  x  \"  \r\n") << QByteArray("S") << QByteArray("a") << 256
        << QByteArray("  x  ");
    QTest::newRow("unmatched quotes stay") << QByteArray("[S]\r\nb='y\"\r\n") << QByteArray("S")
                                           << QByteArray("b") << 256 << QByteArray("'y\"");
    QTest::newRow("single quotes removed") << QByteArray("[S]\r\nb='y'\r\n") << QByteArray("S")
                                           << QByteArray("b") << 256 << QByteArray("y");
    QTest::newRow("names without regard to case")
        << QByteArray("[Sec]\r\nKey=V\r\n") << QByteArray("sEC") << QByteArray("kEY") << 256
        << QByteArray("V");
    QTest::newRow("blanks around the section name")
        << QByteArray(" [ Sec ] trailing\r\nk=1\r\n") << QByteArray("Sec") << QByteArray("k") << 256
        << QByteArray("1");
    QTest::newRow("comment line is no key") << QByteArray("[S]\r\n;k=1\r\n") << QByteArray("S")
                                            << QByteArray(";k") << 256 << QByteArray("d");
    QTest::newRow("semicolon inside a value") << QByteArray("[S]\r\nk2=;x\r\n") << QByteArray("S")
                                              << QByteArray("k2") << 256 << QByteArray(";x");
    QTest::newRow("hash is ordinary text") << QByteArray("[S]\r\n#h=3\r\n") << QByteArray("S")
                                           << QByteArray("#h") << 256 << QByteArray("3");
    QTest::newRow("first of duplicate keys")
        << QByteArray("[S]\r\nk=1\r\nk=2\r\n[T]\r\n[S]\r\nj=3\r\n") << QByteArray("S")
        << QByteArray("k") << 256 << QByteArray("1");
    QTest::newRow("duplicate section ignored")
        << QByteArray("[S]\r\nk=1\r\nk=2\r\n[T]\r\n[S]\r\nj=3\r\n") << QByteArray("S")
        << QByteArray("j") << 256 << QByteArray("d");
    QTest::newRow("line without equals")
        << names << QByteArray("s") << QByteArray("name3") << 256 << QByteArray("d");
    QTest::newRow("line without equals before the key's line")
        << QByteArray("[S]\r\nData\r\nData=5\r\n") << QByteArray("S") << QByteArray("Data") << 256
        << QByteArray("d");
    QTest::newRow("CRLF") << names << QByteArray("s") << QByteArray("name4") << 256
                          << QByteArray("val4");
    QTest::newRow("LF") << QByteArray(names).replace("\r\n", "\n") << QByteArray("s")
                        << QByteArray("name4") << 256 << QByteArray("val4");
    QTest::newRow("CR") << QByteArray(names).replace("\r\n", "\r") << QByteArray("s")
                        << QByteArray("name4") << 256 << QByteArray("val4");
    QTest::newRow("buffer of 5") << QByteArray("[s]\r\nk=val1\r\n") << QByteArray("s")
                                 << QByteArray("k") << 5 << QByteArray("val1");
    QTest::newRow("buffer of 4") << QByteArray("[s]\r\nk=val1\r\n") << QByteArray("s")
                                 << QByteArray("k") << 4 << QByteArray("val");
    QTest::newRow("300 characters read as 255")
        << QByteArray("[S]\r\nk=" + QByteArray(300, 'x') + "\r\n") << QByteArray("S")
        << QByteArray("k") << 256 << QByteArray(255, 'x');
    // Values are bytes of code page 932: one-byte kana, and two-byte characters that are never
    // cut in two; a trail byte can look like a lead byte, so the cut counts from the start.
    QTest::newRow("300 one-byte kana read as 255")
        << QByteArray("[S]\r\nk=" + QByteArray(300, '\xb1') + "\r\n") << QByteArray("S")
        << QByteArray("k") << 256 << QByteArray(255, '\xb1');
    QTest::newRow("no cut inside a two-byte character")
        << QByteArray("[S]\r\nk=" + QByteArray("\x93\xfa").repeated(150) + "\r\n")
        << QByteArray("S") << QByteArray("k") << 256 << QByteArray("\x93\xfa").repeated(127);
    QTest::newRow("lead byte of the upper range at the cut")
        << QByteArray("[S]\r\nk=" + QByteArray(254, 'a') + "\xe0\x40\r\n") << QByteArray("S")
        << QByteArray("k") << 256 << QByteArray(254, 'a');
    QTest::newRow("last lead byte at the cut")
        << QByteArray("[S]\r\nk=" + QByteArray(254, 'a') + "\xfc\x40\r\n") << QByteArray("S")
        << QByteArray("k") << 256 << QByteArray(254, 'a');
    QTest::newRow("trail bytes that look like lead bytes")
        << QByteArray("[S]\r\nk=x" + QByteArray("\x81\x81").repeated(150) + "\r\n")
        << QByteArray("S") << QByteArray("k") << 256
        << QByteArray("x" + QByteArray("\x81\x81").repeated(127));
    QTest::newRow("text in front of the first NUL")
        << QByteArray("[S]\r\nk=\"a\0b\"\r\n", 14) << QByteArray("S") << QByteArray("k") << 256
        << QByteArray("a");
    // A Unicode file's values come in code page 932, as Windows converts them, and are cut there.
    QTest::newRow("UTF-16LE file")
        << utf16(u"[History]\r\nHis1=\u3042 ;\r\n"_s) << QByteArray("HISTORY") << QByteArray("his1")
        << 256 << QByteArray("\x82\xa0 ;");
    QTest::newRow("UTF-16LE kana cut after their conversion")
        << utf16(u"[S]\r\nk="_s + QString(200, u'\u3042') + u"\r\n"_s) << QByteArray("S")
        << QByteArray("k") << 256 << QByteArray("\x82\xa0").repeated(127);
    QTest::newRow("UTF-16LE value cut in code page 932")
        << utf16(u"[S]\r\nk="_s + QString(254, u'a') + u"\u3042\r\n"_s) << QByteArray("S")
        << QByteArray("k") << 256 << QByteArray(254, 'a');
    QTest::newRow("UTF-16LE character that code page 932 does not hold")
        << utf16(u"[S]\r\nk=\U0001F600\u00e9x\r\n"_s) << QByteArray("S") << QByteArray("k") << 256
        << QByteArray("??x");
    QTest::newRow("UTF-16LE file with a lone surrogate and an odd last byte")
        << utf16(u"[S]\r\nk=v\r\n;"_s) + QByteArray("\x00\xD8\x41", 3) << QByteArray("S")
        << QByteArray("k") << 256 << QByteArray("v");
    QTest::newRow("byte-order mark skipped")
        << QByteArray("\xEF\xBB\xBF[S]\r\nk=v\r\n") << QByteArray("S") << QByteArray("k") << 256
        << QByteArray("v");
    QTest::newRow("key before any section") << QByteArray("k=1\r\n[S]\r\n") << QByteArray("S")
                                            << QByteArray("k") << 256 << QByteArray("d");
    QTest::newRow("missing section") << QByteArray("[T]\r\nk=1\r\n") << QByteArray("S")
                                     << QByteArray("k") << 256 << QByteArray("d");
    QTest::newRow("empty quoted value") << QByteArray("[S]\r\nk=\"\"\r\n") << QByteArray("S")
                                        << QByteArray("k") << 256 << QByteArray("");
    QTest::newRow("empty value") << QByteArray("[S]\r\nk=\r\n") << QByteArray("S")
                                 << QByteArray("k") << 256 << QByteArray("");
    QTest::newRow("last line without line break")
        << QByteArray("[S]\r\nk=v") << QByteArray("S") << QByteArray("k") << 256 << QByteArray("v");
    QTest::newRow("empty file") << QByteArray() << QByteArray("S") << QByteArray("k") << 256
                                << QByteArray("d");
    // A numbered key with a leading zero, text after the number or a number beyond 32 bits is
    // another key, not the one its digits seem to name.
    QTest::newRow("numbered key with a leading zero is another key")
        << QByteArray("[S]\r\nHis02=z\r\n") << QByteArray("S") << QByteArray("His2") << 256
        << QByteArray("d");
    QTest::newRow("numbered key followed by more text")
        << QByteArray("[S]\r\nHis2x=z\r\nHis2 = w\r\n") << QByteArray("S") << QByteArray("his2")
        << 256 << QByteArray("w");
    QTest::newRow("number beyond 32 bits")
        << QByteArray("[S]\r\nHis4294967298=z\r\nHIS2==w\r\n") << QByteArray("S")
        << QByteArray("His2") << 256 << QByteArray("=w");
    QTest::newRow("quoted numbered value with a NUL after a long line")
        << "[S]\r\n;" + QByteArray(40, 'x') + QByteArray("\r\nHis1='a\0b' \r\n", 15)
        << QByteArray("S") << QByteArray("His1") << 256 << QByteArray("a");
}

void TestProfileDocument::reading()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(int, capacity);
    QFETCH(QByteArray, value);
    history::ProfileDocument document(file);
    QCOMPARE(document.value(section, key, "d", capacity), value);
    QCOMPARE(document.toBytes(), file);
    // A write elsewhere makes the document keep a table of its lines, which is read instead.
    history::ProfileDocument written(file);
    written.setValue("written", "k", "v");
    for (const history::ProfileDocument* read : {&document, &written}) {
        if (const std::optional<QByteArray> numbered =
                numberedValue(*read, section, key, capacity)) {
            QCOMPARE(*numbered, value);
        }
    }
}

void TestProfileDocument::writing_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<Write>>("writes");
    QTest::addColumn<QByteArray>("result");

    QTest::newRow("new file") << QByteArray() << QList<Write>{{"S", "k", "v"}, {"S", "j", ""}}
                              << QByteArray("[S]\r\nk=v\r\nj=\r\n");
    QTest::newRow("keys and sections in call order")
        << QByteArray() << QList<Write>{{"A1", "k1", "s1"}, {"A1", "k2", "s2"}, {"A2", "k4", "s4"}}
        << QByteArray("[A1]\r\nk1=s1\r\nk2=s2\r\n[A2]\r\nk4=s4\r\n");
    QTest::newRow("replaced in place, all else kept")
        << QByteArray(";c0\r\n[Sec]\r\n;c1\r\nKey=old\r\n\r\n[T]\r\nx=1\r\n")
        << QList<Write>{{"SEC", "KEY", "new"}}
        << QByteArray(";c0\r\n[Sec]\r\n;c1\r\nKey=new\r\n\r\n[T]\r\nx=1\r\n");
    QTest::newRow("key keeps its spelling, blanks go")
        << QByteArray("[S]\r\n  KEY = old \r\n") << QList<Write>{{"s", "key", "new"}}
        << QByteArray("[S]\r\nKEY=new\r\n");
    QTest::newRow("new key before trailing comments and blank lines")
        << QByteArray("[S]\r\nb=1\r\n;n\r\n\r\n[T]\r\n") << QList<Write>{{"S", "z", "2"}}
        << QByteArray("[S]\r\nb=1\r\nz=2\r\n;n\r\n\r\n[T]\r\n");
    QTest::newRow("new key in a section without keys")
        << QByteArray("[S]\r\n[T]\r\nx=1\r\n") << QList<Write>{{"S", "k", "v"}}
        << QByteArray("[S]\r\nk=v\r\n[T]\r\nx=1\r\n");
    QTest::newRow("replaced last line gets its line break")
        << QByteArray("[S]\r\nk=v") << QList<Write>{{"S", "k", "w"}}
        << QByteArray("[S]\r\nk=w\r\n");
    QTest::newRow("new section after a line without break")
        << QByteArray("junk") << QList<Write>{{"S", "k", "v"}}
        << QByteArray("junk\r\n[S]\r\nk=v\r\n");
    QTest::newRow("new key after a last line without break")
        << QByteArray("[S]\nk=v") << QList<Write>{{"S", "j", "w"}} << QByteArray("[S]\nk=v\nj=w\n");
    QTest::newRow("LF file keeps LF")
        << QByteArray("[S]\nk=1\n") << QList<Write>{{"S", "j", "2"}, {"S", "k", "3"}}
        << QByteArray("[S]\nk=3\nj=2\n");
    QTest::newRow("mixed line ends: new lines take the first")
        << QByteArray("[S]\r\nk=1\nm=2\n") << QList<Write>{{"S", "j", "3"}, {"T", "x", "4"}}
        << QByteArray("[S]\r\nk=1\nm=2\nj=3\r\n[T]\r\nx=4\r\n");
    QTest::newRow("added keys written again stay in place")
        << QByteArray("[S]\r\nb=1\r\n;n\r\n")
        << QList<Write>{{"S", "z", "1"}, {"S", "y", "2"}, {"S", "Z", "3"}, {"T", "x", "4"}}
        << QByteArray("[S]\r\nb=1\r\nz=3\r\ny=2\r\n;n\r\n[T]\r\nx=4\r\n");
    QTest::newRow("CR file keeps CR") << QByteArray("[S]\rk=1\r") << QList<Write>{{"T", "j", "2"}}
                                      << QByteArray("[S]\rk=1\r[T]\rj=2\r");
    QTest::newRow("byte-order mark kept")
        << QByteArray("\xEF\xBB\xBF[S]\r\n") << QList<Write>{{"S", "k", "v"}}
        << QByteArray("\xEF\xBB\xBF[S]\r\nk=v\r\n");
    QTest::newRow("bytes of other code pages kept")
        << QByteArray("\x82\xa0\r\n[S]\r\nk=\x93\xfa\x96\x7b\r\nu=\xff\r\n")
        << QList<Write>{{"S", "j", "1"}}
        << QByteArray("\x82\xa0\r\n[S]\r\nk=\x93\xfa\x96\x7b\r\nu=\xff\r\nj=1\r\n");
    QTest::newRow("first of duplicate sections gets the key")
        << QByteArray("[S]\r\na=1\r\n[S]\r\nb=2\r\n") << QList<Write>{{"S", "b", "3"}}
        << QByteArray("[S]\r\na=1\r\nb=3\r\n[S]\r\nb=2\r\n");
    // A lone surrogate in the first line is kept as it is.
    const QByteArray surrogate = utf16(u"\u5c65\u6b74"_s) + QByteArray("\x00\xD8", 2);
    QTest::newRow("UTF-16LE file stays UTF-16LE")
        << surrogate + utf16(u"\r\n[S]\r\nk=v\r\n"_s).sliced(2)
        << QList<Write>{{"S", "k", "w"}, {"S", "j", ""}}
        << surrogate + utf16(u"\r\n[S]\r\nk=w\r\nj=\r\n"_s).sliced(2);
    QTest::newRow("key line without equals gets the value")
        << QByteArray("[History]\r\nData\r\nHis1=x\r\n") << QList<Write>{{"History", "Data", "1"}}
        << QByteArray("[History]\r\nData=1\r\nHis1=x\r\n");
    QTest::newRow("empty value keeps the key")
        << QByteArray("[S]\r\nk=v\r\n") << QList<Write>{{"S", "k", ""}}
        << QByteArray("[S]\r\nk=\r\n");
}

void TestProfileDocument::writing()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<Write>, writes);
    QFETCH(QByteArray, result);
    history::ProfileDocument document(file);
    for (const Write& write : writes) {
        document.setValue(write.at(0), write.at(1), write.at(2));
    }
    QCOMPARE(document.toBytes(), result);
}

void TestProfileDocument::writeThenReadBack()
{
    history::ProfileDocument document(QByteArray("[S]\r\n;c\r\n"));
    for (int k = 1; k <= 1000; ++k) {
        document.setValue("S", "His" + QByteArray::number(k), QByteArray::number(k * 7));
    }
    document.setValue("S", "His500", "x");
    QCOMPARE(document.value("s", "his500", "d", 256), QByteArray("x"));
    QList<QByteArray> numbered;
    document.numberedValues("S", "His", 2, 256, [&numbered](qint32 number, QByteArrayView value) {
        numbered << QByteArray::number(number) + '=' + value.toByteArray();
    });
    QCOMPARE(numbered, (QList<QByteArray>{"1=7", "2=14"}));
    const history::ProfileDocument reread(document.toBytes());
    QCOMPARE(reread.value("S", "HIS1", "d", 256), QByteArray("7"));
    QCOMPARE(reread.value("S", "his500", "d", 256), QByteArray("x"));
    QCOMPARE(reread.value("S", "His1000", "d", 256), QByteArray("7000"));
    QVERIFY(document.toBytes().endsWith("His1000=7000\r\n;c\r\n"));
}

QTEST_APPLESS_MAIN(TestProfileDocument)
#include "tst_profiledocument.moc"
