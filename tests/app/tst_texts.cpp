#include "app/texts.h"
#include "desktop/resources.h"
#include "desktop/singleinstance.h"
#include "history/codepage.h"
#include "history/historyfile.h"
#include "history/journal.h"
#include "print/handover.h"

#include <QTest>
#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kPath = u"/opt/qelvo/qelvo.ini"_s;

history::Failure damagedCount(const QByteArray& value)
{
    return {history::Failure::Kind::DamagedCount, kPath, value, {}};
}

history::Failure unwritable(const posix::Error& reason)
{
    return {history::Failure::Kind::Unwritable, kPath, {}, reason};
}

print::HandOver handOver(print::HandOver::Outcome outcome)
{
    return {outcome, u"office"_s, u"not accepting jobs"_s};
}

} // namespace

// What each message must tell the user to act on: the file and the value as they are, the
// system's reason in its own words, what became of the lines and what to do.
class TestTexts : public QObject {
    Q_OBJECT

private slots:
    void messages_data();
    void messages();
};

void TestTexts::messages_data()
{
    using Holds = history::Journal::Holds;
    using Kind = posix::Error::Kind;
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("tells");
    QTest::addColumn<QStringList>("never");
    const QString full = u"32767"_s;
    // A value from the file is shown as the user wrote it, in whichever encoding.
    QTest::newRow("damaged count in UTF-8")
        << texts::loadFailedMessage(damagedCount("\xEF\xBC\x92"))
        << QStringList{kPath, u"「２」"_s, u"0 から 32767"_s, u"半角数字"_s}
        << QStringList{u"-2147483648"_s};
    const auto shown = [](const char* row, const QByteArray& value, const QString& text) {
        QTest::newRow(row) << texts::loadFailedMessage(damagedCount(value))
                           << QStringList{u"「"_s + text + u"」"_s} << QStringList();
    };
    shown("damaged count in code page 932", "\x82\x51\x8C\x8F", u"２件"_s);
    // UTF-8 kana read as code page 932 too, and two bytes of UTF-8 as one-byte kana.
    shown("damaged count in UTF-8 kana", u"メモ"_s.toUtf8(), u"メモ"_s);
    shown("damaged count in one-byte kana", "\xC3\xBD", u"ﾃｽ"_s);
    shown("damaged count in UTF-8 of no code page 932", "\xC3\x97", u"×"_s);
    shown("damaged count of no encoding", "1\xFF\x82!\x81", u"1\uFFFD\uFFFD!\uFFFD"_s);
    QTest::newRow("the system's words with the reason")
        << texts::notSavedMessage(unwritable({Kind::System, EACCES}), Holds::None)
        << QStringList{kPath, u"Permission denied"_s, u"保存されません"_s}
        << QStringList{u"控えのファイル"_s};
    QTest::newRow("a reason without words of its own is named by its number")
        << texts::clearFailedMessage(unwritable({Kind::System, EEXIST}))
        << QStringList{u"17"_s, u"File exists"_s, u"消去されませんでした"_s} << QStringList();
    QTest::newRow("lines in the journal come back")
        << texts::saveFailedQuestion(unwritable({Kind::TooLarge, 0}), Holds::Every)
        << QStringList{u"16 MB"_s, u"次に起動したときに保存"_s, u"「いいえ」"_s,
                       u"原因を取り除いてから、もう一度閉じて"_s, u"。\n\n終了しますか？"_s}
        << QStringList{u"保存されません"_s};
    QTest::newRow("a full disk: what to free, and what leaving loses")
        << texts::saveFailedQuestion(unwritable({Kind::System, ENOSPC}), Holds::None)
        << QStringList{u"空きを増やしてから"_s, u"今終了すると、今回引いた数字は失われます"_s}
        << QStringList{u"原因を取り除いて"_s};
    QTest::newRow("a journal that stopped: the lines until then come back")
        << texts::notSavedMessage(unwritable({Kind::System, ENOSPC}), Holds::UntilItStopped)
        << QStringList{u"書き込めなくなるまで"_s, u"それより後"_s} << QStringList();
    QTest::newRow("every lock name taken: the name to remove")
        << texts::clearFailedMessage(unwritable({Kind::LockNamesTaken, 0, "/opt/q/.x.saving"}))
        << QStringList{u"「/opt/q/.x.saving」を取り除いて"_s} << QStringList();
    QTest::newRow("another's save: its lock, taken over within the minute")
        << texts::saveFailedQuestion(unwritable({Kind::Busy, EBUSY, "/opt/q/.x.saving"}),
                                     Holds::Every)
        << QStringList{u"保存中"_s, u"待ってから"_s, u"「/opt/q/.x.saving」が 1 分間"_s}
        << QStringList{u"取り除いて"_s};
    QTest::newRow("too many to add")
        << texts::saveFailedQuestion(
               {history::Failure::Kind::Full, kPath, "32760", {}, history::kMaxLines}, Holds::Every)
        << QStringList{u"32760"_s, full, u"閉じ直しても保存できません"_s,
                       u"「履歴全消去」で履歴を空にした後"_s}
        << QStringList{u"次に起動したときに保存"_s, u"取り除いて"_s};
    QTest::newRow("too few descriptors: how many are free, and what to raise")
        << texts::missingResourceMessage({desktop::MissingResource::Kind::Descriptors, 7, 0})
        << QStringList{u"空きは 7"_s, u"48 以上"_s, u"ulimit -n"_s} << QStringList();
    QTest::newRow("no thread") << texts::missingResourceMessage(
                                      {desktop::MissingResource::Kind::Threads, 0, EAGAIN})
                               << QStringList{u"ulimit -u"_s, u"Resource temporarily"_s}
                               << QStringList{u"ulimit -n"_s};
    QTest::newRow("no lock") << texts::unguardedMessage(
                                    {desktop::LockProblem::Kind::System, EACCES})
                             << QStringList{u"Permission denied"_s, u"二つ"_s} << QStringList();
    // The system's words come in the encoding of the user's locale.
    QTest::newRow("system words in EUC-JP")
        << codepage::decoded("\xB5\xF6\xB2\xC4\xA4\xAC\xA4\xA2\xA4\xEA\xA4\xDE\xA4\xBB\xA4\xF3",
                             "EUC-JP")
               .value_or(QString())
        << QStringList{u"許可がありません"_s} << QStringList();
    QTest::newRow("print job refused")
        << texts::handOverMessage(handOver(print::HandOver::Outcome::Refused))
        << QStringList{u"「office」"_s, u"not accepting jobs"_s} << QStringList();
}

void TestTexts::messages()
{
    QFETCH(QString, message);
    QFETCH(QStringList, tells);
    QFETCH(QStringList, never);
    for (const QString& words : tells) {
        QVERIFY2(message.contains(words), qPrintable(words + u" / "_s + message));
    }
    for (const QString& words : never) {
        QVERIFY2(!message.contains(words), qPrintable(words + u" / "_s + message));
    }
}

QTEST_APPLESS_MAIN(TestTexts)
#include "tst_texts.moc"
