#include "app/texts.h"

#include "desktop/resources.h"
#include "desktop/singleinstance.h"
#include "history/codepage.h"
#include "history/filestore.h"
#include "history/historyfile.h"
#include "posix/files.h"
#include "print/handover.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#ifndef _WIN32
#include <langinfo.h>
#endif

namespace texts {

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr int kBytesPerMegabyte = 1024 * 1024;

QString shownPath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The system's own words for an error number, in the encoding of the user's locale.
QString systemWords(int code)
{
    const QByteArray words = std::strerror(code);
#ifdef _WIN32
    // The C library of Windows words its errors in English only.
    return QString::fromLatin1(words);
#else
    if (std::optional<QString> text = codepage::decoded(words, ::nl_langinfo(CODESET))) {
        return *text;
    }
    const char* name = ::strerrorname_np(code);
    return name != nullptr ? QString::fromLatin1(name) : QString::number(code);
#endif
}

QString systemReason(int code)
{
    switch (code) {
    case ENOSPC:
        return QStringLiteral("ディスクの空き容量が足りません");
    case EDQUOT:
        return QStringLiteral("ディスクの使用量の上限に達しています");
    case EFBIG:
        return QStringLiteral("ファイルの大きさの上限を超えます");
    case EACCES:
    case EPERM:
        return QStringLiteral("アクセスが許可されていません");
    case EROFS:
        return QStringLiteral("読み取り専用の場所です");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("フォルダーまたはファイルが見つかりません");
    case EIO:
        return QStringLiteral("入出力エラーが起きました");
    default:
        return QStringLiteral("システムエラー %1").arg(code);
    }
}

// What the user can do before trying again (retry: the words that ask for it), for the cause.
QString advice(const history::Failure& failure, const QString& retry)
{
    const posix::Error& error = failure.reason;
    const QString lock = shownPath(posix::decodedName(error.file));
    if (failure.kind == history::Failure::Kind::Full) {
        return QStringLiteral("履歴に空きがないため、閉じ直しても保存できません。");
    }
    switch (error.kind) {
    case posix::Error::Kind::LockNamesTaken:
        return QStringLiteral("「%1」を取り除いてから、%2。").arg(lock, retry);
    case posix::Error::Kind::Busy:
        return QStringLiteral("その保存が終わるのを待ってから、%2。「%1」が 1 分間変わらなければ、"
                              "その保存は終わらなかったものとして引き継ぎます。")
            .arg(lock, retry);
    case posix::Error::Kind::TakenOver:
        return QStringLiteral("少し待ってから、%1。").arg(retry);
    case posix::Error::Kind::System:
        if (error.code == ENOSPC || error.code == EDQUOT) {
            return QStringLiteral("ディスクの空きを増やしてから、%1。").arg(retry);
        }
        break;
    case posix::Error::Kind::NotRegularFile:
    case posix::Error::Kind::TooLarge:
    case posix::Error::Kind::Unflushed:
        break;
    }
    return QStringLiteral("原因を取り除いてから、%1。").arg(retry);
}

QString describe(const history::Failure& failure)
{
    switch (failure.kind) {
    case history::Failure::Kind::DamagedCount:
        return QStringLiteral("履歴ファイル「%1」の件数 Data の値「%2」が正しくありません。"
                              "件数は 0 から %3 までの整数を、半角数字で書きます。")
            .arg(shownPath(failure.path), codepage::fileText(failure.storedCount))
            .arg(history::kMaxLines);
    case history::Failure::Kind::Unreadable:
        return QStringLiteral("履歴ファイル「%1」を読み込めませんでした。\n理由: %2")
            .arg(shownPath(failure.path), reason(failure.reason));
    case history::Failure::Kind::UnknownEncoding:
        return QStringLiteral("履歴ファイル「%1」は、このプログラムが読み書きしない文字コード"
                              "（UTF-16 ビッグエンディアンなど）で書かれています。")
            .arg(shownPath(failure.path));
    case history::Failure::Kind::Full:
        return QStringLiteral("履歴ファイル「%1」には既に %2 件の履歴があり、今回の %3 件を加えると"
                              "上限の %4 件を超えます。")
            .arg(shownPath(failure.path), QString::fromLatin1(failure.storedCount))
            .arg(failure.adding)
            .arg(history::kMaxLines);
    case history::Failure::Kind::Unwritable:
        break;
    }
    return QStringLiteral("履歴ファイル「%1」に書き込めませんでした。\n理由: %2")
        .arg(shownPath(failure.path), reason(failure.reason));
}

// What becomes of the lines drawn in this run when they are not saved now.
QString keptLines(history::Journal::Holds kept)
{
    switch (kept) {
    case history::Journal::Holds::Every:
        return QStringLiteral(
            "今回引いた数字は控えのファイルに残り、次に起動したときに保存されます。");
    case history::Journal::Holds::UntilItStopped:
        return QStringLiteral(
            "控えのファイルに書き込めなくなるまでに引いた数字は、次に起動したときに"
            "保存されます。それより後の数字は保存されません。");
    case history::Journal::Holds::None:
        break;
    }
    return QStringLiteral("今回引いた数字は保存されません。");
}

// What becomes of the lines drawn in this run if the user leaves now; full: the history has no
// room for them until it is cleared.
QString leavingNow(history::Journal::Holds kept, bool full)
{
    switch (kept) {
    case history::Journal::Holds::Every:
        return QStringLiteral(
                   "今終了しても、今回引いた数字は失われません。控えのファイルに残り、%1")
            .arg(full ? QStringLiteral("「%1」で履歴を空にした後の起動で履歴に戻ります。")
                            .arg(text(kClearCaption))
                      : QStringLiteral("次に起動したときに保存されます。"));
    case history::Journal::Holds::UntilItStopped:
        return QStringLiteral("今終了すると、控えのファイルに書き込めなくなった後に引いた数字は"
                              "失われます。それより前の数字は、次に起動したときに保存されます。");
    case history::Journal::Holds::None:
        break;
    }
    return QStringLiteral("今終了すると、今回引いた数字は失われます。");
}

} // namespace

QString text(const char16_t* literal)
{
    return QString::fromUtf16(literal);
}

QString tileName(int place, const QString& caption)
{
    const bool star = caption.size() == 1 && (caption.front() == QChar(kStarCaptions[0]) ||
                                              caption.front() == QChar(kStarCaptions[1]));
    return QStringLiteral("%1 番目の数字 %2")
        .arg(place)
        .arg(star ? QStringLiteral("なし") : caption);
}

QString repeatQuestion(int count)
{
    return QStringLiteral("過去に同じデータが %1 個存在します！ 履歴として残しますか？").arg(count);
}

QString historyFullMessage()
{
    return QStringLiteral("履歴が %1 件でいっぱいのため、今回の数字は履歴に残せません。"
                          "「%2」ボタンで履歴を空にしてください。")
        .arg(history::kMaxLines)
        .arg(text(kClearCaption));
}

QString clearQuestion()
{
    return QStringLiteral("全ての履歴を削除します。よろしいですか？");
}

QString reason(const posix::Error& error)
{
    switch (error.kind) {
    case posix::Error::Kind::NotRegularFile:
        return QStringLiteral("通常のファイルではありません（FIFO やデバイスなど）");
    case posix::Error::Kind::TooLarge:
        return QStringLiteral("ファイルが %1 MB を超えています")
            .arg(filestore::kMaxFileSize / kBytesPerMegabyte);
    case posix::Error::Kind::LockNamesTaken:
        return QStringLiteral("保存に使う名前が、このプログラムのものではないファイルやフォルダーで"
                              "ふさがれています");
    case posix::Error::Kind::Busy:
        return QStringLiteral("別のプログラムが保存中です");
    case posix::Error::Kind::TakenOver:
        return QStringLiteral("保存のあいだに別のプログラムが保存したため、何度やり直しても"
                              "書き込めませんでした");
    case posix::Error::Kind::Unflushed:
        return QStringLiteral("フォルダーの変更をディスクに書き込めませんでした（%1）")
            .arg(systemWords(error.code));
    case posix::Error::Kind::System:
        break;
    }
    return QStringLiteral("%1（%2）").arg(systemReason(error.code), systemWords(error.code));
}

QString loadFailedMessage(const history::Failure& failure)
{
    return describe(failure) +
           QStringLiteral("\n\nファイルには何も書き込まずに終了します。"
                          "ファイルを修復するか別の場所へ移してから、もう一度起動してください。");
}

QString saveFailedQuestion(const history::Failure& failure, history::Journal::Holds kept)
{
    const bool full = failure.kind == history::Failure::Kind::Full;
    return describe(failure) + u"\n\n"_s + leavingNow(kept, full) +
           QStringLiteral("\n「いいえ」を選ぶと、ウィンドウは開いたままになります。") +
           advice(failure, QStringLiteral("もう一度閉じてください")) +
           QStringLiteral("\n\n終了しますか？");
}

QString notSavedMessage(const history::Failure& failure, history::Journal::Holds kept)
{
    return describe(failure) + u'\n' + keptLines(kept);
}

QString clearFailedMessage(const history::Failure& failure)
{
    return describe(failure) + QStringLiteral("\n\n履歴は消去されませんでした。") +
           advice(failure, QStringLiteral("もう一度お試しください"));
}

QString handOverMessage(const print::HandOver& handOver)
{
    switch (handOver.outcome) {
    case print::HandOver::Outcome::Refused:
        if (handOver.reason.isEmpty()) {
            return QStringLiteral("プリンター「%1」は印刷ジョブを受け付けませんでした。")
                .arg(handOver.queue);
        }
        return QStringLiteral("プリンター「%1」は印刷ジョブを受け付けませんでした（%2）。")
            .arg(handOver.queue, handOver.reason);
    case print::HandOver::Outcome::TimedOut:
        return QStringLiteral("印刷システムが応答しないため、印刷ジョブをプリンター「%1」に"
                              "渡さずに終了しました。")
            .arg(handOver.queue);
    case print::HandOver::Outcome::Interrupted:
        return QStringLiteral("終了の合図を受けたため、印刷ジョブをプリンター「%1」に"
                              "渡さずに終了しました。")
            .arg(handOver.queue);
    case print::HandOver::Outcome::NoDocument:
    case print::HandOver::Outcome::Accepted:
        break;
    }
    return {};
}

QString unreachableMessage()
{
    return QStringLiteral("このプログラムは既に起動していますが、そのウィンドウを前面に出せません"
                          "でした。タスクバーなどから開いているウィンドウを探してください。");
}

QString inUseMessage()
{
    return QStringLiteral("履歴ファイルは別のユーザーのプログラムが使用中です。\n\n"
                          "何も読み書きせずに終了します。"
                          "そのプログラムが終了してから、もう一度起動してください。");
}

QString missingResourceMessage(const desktop::MissingResource& missing)
{
    switch (missing.kind) {
    case desktop::MissingResource::Kind::Descriptors:
        return QStringLiteral("同時に開けるファイルの数が足りないため、起動できません（空きは %1、"
                              "%2 以上が必要です）。上限（ulimit -n）を上げてから、もう一度起動して"
                              "ください。")
            .arg(missing.have)
            .arg(desktop::kSpareDescriptors);
    case desktop::MissingResource::Kind::Threads:
        break;
    }
    return QStringLiteral(
               "スレッドを作れないため、起動できません（%1）。ほかのプログラムを終了するか、"
               "プロセス数の上限（ulimit -u）を上げてから、もう一度起動してください。")
        .arg(systemWords(missing.code));
}

QString unnamedFolderMessage(const QString& folder)
{
    return QStringLiteral(
               "プログラムのフォルダー「%1」の名前に UTF-8 でない文字が含まれているため、"
               "履歴ファイルを開けません。\n\n何も読み書きせずに終了します。"
               "名前が UTF-8 のフォルダーへプログラムを移してから、もう一度起動してください。")
        .arg(shownPath(folder));
}

QString unguardedMessage(const desktop::LockProblem& problem)
{
    QString why;
    switch (problem.kind) {
    case desktop::LockProblem::Kind::NotAPlainFile:
        why = QStringLiteral("ロックファイルの場所に、フォルダーやリンクなど別のものがあります");
        break;
    case desktop::LockProblem::Kind::LocalOnly:
        why =
            QStringLiteral("このファイルシステム（FUSE）のロックは、別のマウントからは見えません");
        break;
    case desktop::LockProblem::Kind::System:
        why = reason(posix::systemError(problem.code));
        break;
    }
    return QStringLiteral("この履歴ファイルを使用中であることを示すロックを取れませんでした。\n"
                          "理由: %1\n\n同じ履歴でこのプログラムをもう一度起動すると、ウィンドウが"
                          "二つ開きます。どちらで引いた数字も、失われずに履歴に残ります。")
        .arg(why);
}

QString journalLostMessage(const posix::Error& error)
{
    QString message =
        QStringLiteral("引いた数字を、その場で控えのファイルに書き込めません。\n理由: %1\n\n"
                       "今回の数字は、ウィンドウを閉じるときに保存されます。それまでに"
                       "プログラムが強制終了されると失われます。")
            .arg(reason(error));
#ifdef _WIN32
    // Where a Windows user most often puts a program: Program Files, which only an
    // administrator may write to.
    const bool denied = error.kind == posix::Error::Kind::System &&
                        (error.code == EACCES || error.code == EPERM || error.code == EROFS);
    if (denied) {
        message += QStringLiteral("\n\nこのフォルダーには書き込めないため、履歴も保存できません。"
                                  "プログラムを「Program Files」の外の、書き込めるフォルダー"
                                  "（ドキュメントなど）に移してから起動してください。");
    }
#endif
    return message;
}

QString leftLinesNotSavedMessage(const history::Failure& failure, qsizetype count)
{
    return describe(failure) +
           QStringLiteral("\n\n前回保存されずに終わった %1 件の履歴を一覧に戻しました。"
                          "ウィンドウを閉じるときに、もう一度保存します。")
               .arg(count);
}

QString linesWaitingMessage(qsizetype count, bool full)
{
    if (!full) {
        return QStringLiteral("前回までに保存されずに終わった %1 件の履歴は、控えのファイルに"
                              "残したままです。次に起動したときに戻ります。")
            .arg(count);
    }
    return QStringLiteral(
               "前回までに保存されずに終わった %1 件の履歴は、履歴が %2 件までしか持てない"
               "ため、控えのファイルに残したままです。「%3」で履歴を空にすると、次に起動"
               "したときに戻ります。")
        .arg(count)
        .arg(history::kMaxLines)
        .arg(text(kClearCaption));
}

} // namespace texts
