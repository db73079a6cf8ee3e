#include "app/texts.h"
#include "desktop/singleinstance.h"
#include "history/codepage.h"
#include "history/historyfile.h"
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

history::Failure unwritable(posix::Error reason)
{
    return {history::Failure::Kind::Unwritable, kPath, {}, reason};
}

print::HandOver handOver(print::HandOver::Outcome outcome)
{
    return {outcome, u"office"_s, u"not accepting jobs"_s};
}

} // namespace

// Every message against the words the user reads, literally.
class TestTexts : public QObject {
    Q_OBJECT

private slots:
    void messages_data();
    void messages();
};

void TestTexts::messages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("words");
    using Outcome = print::HandOver::Outcome;
    using Kind = posix::Error::Kind;
    const QString damaged =
        u"履歴ファイル「/opt/qelvo/qelvo.ini」の件数 Data の値「%1」が正しくあり"
        u"ません。件数は -2147483648 から 32767 までの整数でなければなりません。"
        u"\n\nファイルには何も書き込まずに終了します。ファイルを修復するか別の"
        u"場所へ移してから、もう一度起動してください。"_s;

    QTest::newRow("repeat question")
        << texts::repeatQuestion(3)
        << u"過去に同じデータが 3 個存在します！ 履歴として残しますか？"_s;
    QTest::newRow("history full")
        << texts::historyFullMessage()
        << u"履歴が 32767 件でいっぱいのため、今回の数字は履歴に残せません。「履歴全消去」ボタンで"
           u"履歴を空にしてください。"_s;
    QTest::newRow("clear question")
        << texts::clearQuestion() << u"全ての履歴を削除します。よろしいですか？"_s;
    // A value from the file is shown as the user wrote it.
    QTest::newRow("damaged count in UTF-8")
        << texts::loadFailedMessage(damagedCount("\xEF\xBC\x92")) << damaged.arg(u"２"_s);
    QTest::newRow("damaged count in code page 932")
        << texts::loadFailedMessage(damagedCount("\x82\x51\x8C\x8F")) << damaged.arg(u"２件"_s);
    QTest::newRow("damaged count of no encoding")
        << texts::loadFailedMessage(damagedCount("1\xFF")) << damaged.arg(u"1ÿ"_s);
    QTest::newRow("too large to save")
        << texts::saveFailedQuestion(unwritable({Kind::TooLarge, 0}), false)
        << u"履歴ファイル「/opt/qelvo/qelvo.ini」に書き込めませんでした。\n理由: ファイルが 16 MB "
           u"を超えています\n\n今回の履歴を保存せずに終了しますか？\n「いいえ」を選ぶとウィンドウは"
           u"開いたままになります。原因を取り除いてから、もう一度閉じてください。"_s;
    QTest::newRow("not saved at a signal")
        << texts::notSavedMessage(unwritable({Kind::System, EACCES}), false)
        << u"履歴ファイル「/opt/qelvo/qelvo.ini」に書き込めませんでした。\n理由: アクセスが許可され"
           u"ていません（Permission denied）\n今回の履歴は保存されませんでした。"_s;
    // The lines are in the journal: the next start saves them.
    QTest::newRow("too many to add, kept for the next start")
        << texts::saveFailedQuestion(
               {history::Failure::Kind::Full, kPath, "32760", {}, history::kMaxLines}, true)
        << u"履歴ファイル「/opt/qelvo/qelvo.ini」には既に 32760 件の履歴があり、今回の 32767 件を"
           u"加えると上限の 32767 件を超えます。\n\n今回の履歴は控えのファイルに残り、次に起動した"
           u"ときに保存されます。このまま終了しますか？\n「いいえ」を選ぶとウィンドウは開いたままに"
           u"なります。原因を取り除いてから、もう一度閉じてください。"_s;
    QTest::newRow("no lock: another user's lock file in a shared folder")
        << texts::unguardedMessage({desktop::LockProblem::Kind::System, EACCES})
        << u"この履歴ファイルを使用中であることを示すロックを取れませんでした。\n理由: アクセスが"
           u"許可されていません（Permission "
           u"denied）\n\n同じ履歴でこのプログラムをもう一度起動すると、"
           u"ウィンドウが二つ開きます。どちらで引いた数字も、失われずに履歴に残ります。"_s;
    QTest::newRow("clear failed, a reason without words of its own")
        << texts::clearFailedMessage(unwritable({Kind::System, EEXIST}))
        << u"履歴ファイル「/opt/qelvo/qelvo.ini」に書き込めませんでした。\n理由: システムエラー 17"
           u"（File exists）\n\n履歴は消去されませんでした。"_s;
    QTest::newRow("unknown encoding")
        << texts::loadFailedMessage({history::Failure::Kind::UnknownEncoding, kPath, {}, {}})
        << u"履歴ファイル「/opt/qelvo/qelvo.ini」は、このプログラムが読み書きしない文字コード"
           u"（UTF-16 ビッグエンディアンなど）で書かれています。\n\nファイルには何も書き込まずに"
           u"終了します。ファイルを修復するか別の場所へ移してから、もう一度起動してください。"_s;
    // The system's words come in the encoding of the user's locale.
    QTest::newRow("system words in EUC-JP")
        << codepage::decoded("\xB5\xF6\xB2\xC4\xA4\xAC\xA4\xA2\xA4\xEA\xA4\xDE\xA4\xBB\xA4\xF3",
                             "EUC-JP")
               .value_or(QString())
        << u"許可がありません"_s;
    QTest::newRow("print job refused")
        << texts::handOverMessage(handOver(Outcome::Refused))
        << u"プリンター「office」は印刷ジョブを受け付けませんでした: not accepting jobs"_s;
    QTest::newRow("print system silent")
        << texts::handOverMessage(handOver(Outcome::TimedOut))
        << u"印刷システムが応答しないため、印刷ジョブをプリンター「office」に渡さずに終了しました。"_s;
    QTest::newRow("print job abandoned at a signal")
        << texts::handOverMessage(handOver(Outcome::Interrupted))
        << u"終了の合図を受けたため、印刷ジョブをプリンター「office」に渡さずに終了しました。"_s;
}

void TestTexts::messages()
{
    QFETCH(QString, message);
    QFETCH(QString, words);
    QCOMPARE(message, words);
}

QTEST_APPLESS_MAIN(TestTexts)
#include "tst_texts.moc"
