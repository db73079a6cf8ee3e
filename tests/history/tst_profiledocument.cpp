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

// A row of reading(): a value is read from a buffer of 256 characters unless capacity says.
void read(const char* name, const QByteArray& file, const QByteArray& section,
          const QByteArray& key, const QByteArray& value, int capacity = 256)
{
    QTest::newRow(name) << file << section << key << capacity << value;
}

// A row of writing(): the file, the values written into it in turn, and what it becomes.
void write(const char* name, const QByteArray& file, const QList<Write>& writes,
           const QByteArray& result)
{
    QTest::newRow(name) << file << writes << result;
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
    read("blanks around key and value", "[S]\r\n  k \t=\t v \r\n", "S", "k", "v");
    read("one pair of double quotes removed", "[S]\r\na=  \"  x  \"  \r\n", "S", "a", "  x  ");
    read("unmatched quotes stay", "[S]\r\nb='y\"\r\n", "S", "b", "'y\"");
    read("single quotes removed", "[S]\r\nb='y'\r\n", "S", "b", "y");
    read("names without regard to case", "[Sec]\r\nKey=V\r\n", "sEC", "kEY", "V");
    read("blanks around the section name", " [ Sec ] trailing\r\nk=1\r\n", "Sec", "k", "1");
    read("comment line is no key", "[S]\r\n;k=1\r\n", "S", ";k", "d");
    read("semicolon inside a value", "[S]\r\nk2=;x\r\n", "S", "k2", ";x");
    read("hash is ordinary text", "[S]\r\n#h=3\r\n", "S", "#h", "3");
    read("first of duplicate keys", "[S]\r\nk=1\r\nk=2\r\n[T]\r\n[S]\r\nj=3\r\n", "S", "k", "1");
    read("duplicate section ignored", "[S]\r\nk=1\r\nk=2\r\n[T]\r\n[S]\r\nj=3\r\n", "S", "j", "d");
    read("line without equals", names, "s", "name3", "d");
    read("line without equals before the key's line", "[S]\r\nData\r\nData=5\r\n", "S", "Data",
         "d");
    read("CRLF", names, "s", "name4", "val4");
    read("LF", QByteArray(names).replace("\r\n", "\n"), "s", "name4", "val4");
    read("CR", QByteArray(names).replace("\r\n", "\r"), "s", "name4", "val4");
    read("buffer of 5", "[s]\r\nk=val1\r\n", "s", "k", "val1", 5);
    read("buffer of 4", "[s]\r\nk=val1\r\n", "s", "k", "val", 4);
    read("300 characters read as 255", QByteArray("[S]\r\nk=" + QByteArray(300, 'x') + "\r\n"), "S",
         "k", QByteArray(255, 'x'));
    // Values are bytes of code page 932: one-byte kana, and two-byte characters that are never
    // cut in two; a trail byte can look like a lead byte, so the cut counts from the start.
    read("300 one-byte kana read as 255",
         QByteArray("[S]\r\nk=" + QByteArray(300, '\xb1') + "\r\n"), "S", "k",
         QByteArray(255, '\xb1'));
    read("no cut inside a two-byte character",
         QByteArray("[S]\r\nk=" + QByteArray("\x93\xfa").repeated(150) + "\r\n"), "S", "k",
         QByteArray("\x93\xfa").repeated(127));
    read("lead byte of the upper range at the cut",
         QByteArray("[S]\r\nk=" + QByteArray(254, 'a') + "\xe0\x40\r\n"), "S", "k",
         QByteArray(254, 'a'));
    read("last lead byte at the cut",
         QByteArray("[S]\r\nk=" + QByteArray(254, 'a') + "\xfc\x40\r\n"), "S", "k",
         QByteArray(254, 'a'));
    read("trail bytes that look like lead bytes",
         QByteArray("[S]\r\nk=x" + QByteArray("\x81\x81").repeated(150) + "\r\n"), "S", "k",
         QByteArray("x" + QByteArray("\x81\x81").repeated(127)));
    read("text in front of the first NUL", QByteArray("[S]\r\nk=\"a\0b\"\r\n", 14), "S", "k", "a");
    // A Unicode file's values come in code page 932, as Windows converts them, and are cut there.
    read("UTF-16LE file", utf16(u"[History]\r\nHis1=\u3042 ;\r\n"_s), "HISTORY", "his1",
         "\x82\xa0 ;");
    read("UTF-16LE kana cut after their conversion",
         utf16(u"[S]\r\nk="_s + QString(200, u'\u3042') + u"\r\n"_s), "S", "k",
         QByteArray("\x82\xa0").repeated(127));
    read("UTF-16LE value cut in code page 932",
         utf16(u"[S]\r\nk="_s + QString(254, u'a') + u"\u3042\r\n"_s), "S", "k",
         QByteArray(254, 'a'));
    read("UTF-16LE character that code page 932 does not hold",
         utf16(u"[S]\r\nk=\U0001F600\u00e9x\r\n"_s), "S", "k", "??x");
    read("UTF-16LE file with a lone surrogate and an odd last byte",
         utf16(u"[S]\r\nk=v\r\n;"_s) + QByteArray("\x00\xD8\x41", 3), "S", "k", "v");
    read("byte-order mark skipped", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", "v");
    read("key before any section", "k=1\r\n[S]\r\n", "S", "k", "d");
    read("missing section", "[T]\r\nk=1\r\n", "S", "k", "d");
    read("empty quoted value", "[S]\r\nk=\"\"\r\n", "S", "k", "");
    read("empty value", "[S]\r\nk=\r\n", "S", "k", "");
    read("last line without line break", "[S]\r\nk=v", "S", "k", "v");
    read("empty file", QByteArray(), "S", "k", "d");
    // A numbered key with a leading zero, text after the number or a number beyond 32 bits is
    // another key, not the one its digits seem to name.
    read("numbered key with a leading zero is another key", "[S]\r\nHis02=z\r\n", "S", "His2", "d");
    read("numbered key followed by more text", "[S]\r\nHis2x=z\r\nHis2 = w\r\n", "S", "his2", "w");
    read("number beyond 32 bits", "[S]\r\nHis4294967298=z\r\nHIS1==w\r\n", "S", "His1", "=w");
    read("quoted numbered value with a NUL after a long line",
         "[S]\r\n;" + QByteArray(40, 'x') + QByteArray("\r\nHis1='a\0b' \r\n", 15), "S", "His1",
         "a");
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

    write("new file", QByteArray(), {{"S", "k", "v"}, {"S", "j", ""}}, "[S]\r\nk=v\r\nj=\r\n");
    write("keys and sections in call order", QByteArray(),
          {{"A1", "k1", "s1"}, {"A1", "k2", "s2"}, {"A2", "k4", "s4"}},
          "[A1]\r\nk1=s1\r\nk2=s2\r\n[A2]\r\nk4=s4\r\n");
    write("replaced in place, all else kept",
          ";c0\r\n[Sec]\r\n;c1\r\nKey=old\r\n\r\n[T]\r\nx=1\r\n", {{"SEC", "KEY", "new"}},
          ";c0\r\n[Sec]\r\n;c1\r\nKey=new\r\n\r\n[T]\r\nx=1\r\n");
    write("key keeps its spelling, blanks go", "[S]\r\n  KEY = old \r\n", {{"s", "key", "new"}},
          "[S]\r\nKEY=new\r\n");
    write("new key before trailing comments and blank lines", "[S]\r\nb=1\r\n;n\r\n\r\n[T]\r\n",
          {{"S", "z", "2"}}, "[S]\r\nb=1\r\nz=2\r\n;n\r\n\r\n[T]\r\n");
    write("new key in a section without keys", "[S]\r\n[T]\r\nx=1\r\n", {{"S", "k", "v"}},
          "[S]\r\nk=v\r\n[T]\r\nx=1\r\n");
    write("replaced last line gets its line break", "[S]\r\nk=v", {{"S", "k", "w"}},
          "[S]\r\nk=w\r\n");
    write("new section after a line without break", "junk", {{"S", "k", "v"}},
          "junk\r\n[S]\r\nk=v\r\n");
    write("new key after a last line without break", "[S]\nk=v", {{"S", "j", "w"}},
          "[S]\nk=v\nj=w\n");
    write("LF file keeps LF", "[S]\nk=1\n", {{"S", "j", "2"}, {"S", "k", "3"}}, "[S]\nk=3\nj=2\n");
    write("mixed line ends: new lines take the first", "[S]\r\nk=1\nm=2\n",
          {{"S", "j", "3"}, {"S", "m", "5"}}, "[S]\r\nk=1\nm=5\nj=3\r\n");
    write("added keys written again stay in place", "[S]\r\nb=1\r\n;n\r\n",
          {{"S", "z", "1"}, {"S", "y", "2"}, {"S", "Z", "3"}, {"T", "x", "4"}},
          "[S]\r\nb=1\r\nz=3\r\ny=2\r\n;n\r\n[T]\r\nx=4\r\n");
    write("CR file keeps CR", "[S]\rk=1\r", {{"T", "j", "2"}}, "[S]\rk=1\r[T]\rj=2\r");
    write("byte-order mark kept", "\xEF\xBB\xBF[S]\r\n", {{"S", "k", "v"}},
          "\xEF\xBB\xBF[S]\r\nk=v\r\n");
    write("bytes of other code pages kept", "\x82\xa0\r\n[S]\r\nk=\x93\xfa\x96\x7b\r\nu=\xff\r\n",
          {{"S", "j", "1"}}, "\x82\xa0\r\n[S]\r\nk=\x93\xfa\x96\x7b\r\nu=\xff\r\nj=1\r\n");
    write("first of duplicate sections gets the key", "[S]\r\na=1\r\n[S]\r\nb=2\r\n",
          {{"S", "b", "3"}}, "[S]\r\na=1\r\nb=3\r\n[S]\r\nb=2\r\n");
    // A character beyond 16 bits and a lone surrogate in the first line are kept as they are.
    const QByteArray surrogate = utf16(u"\u5c65\U00020BB7"_s) + QByteArray("\x00\xD8", 2);
    write("UTF-16LE file stays UTF-16LE", surrogate + utf16(u"\r\n[S]\r\nk=v\r\n"_s).sliced(2),
          {{"S", "k", "w"}, {"S", "j", ""}},
          surrogate + utf16(u"\r\n[S]\r\nk=w\r\nj=\r\n"_s).sliced(2));
    write("key line without equals gets the value", "[History]\r\nData\r\nHis1=x\r\n",
          {{"History", "Data", "1"}}, "[History]\r\nData=1\r\nHis1=x\r\n");
    write("empty value keeps the key", "[S]\r\nk=v\r\n", {{"S", "k", ""}}, "[S]\r\nk=\r\n");
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
