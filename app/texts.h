#pragma once

#include "draw/sixnumbers.h"
#include "history/journal.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace desktop {
struct LockProblem;
struct MissingResource;
} // namespace desktop
namespace history {
struct Failure;
}
namespace posix {
struct Error;
}
namespace print {
struct HandOver;
}

// Every text the user reads: the window's title and captions, its questions and its messages,
// in one place for a translator or a reviewer.
namespace texts {

inline constexpr auto kTitle = u"Six Random Numbers";
inline constexpr auto kDrawCaption = u"乱数発生";
inline constexpr auto kPrintCaption = u"履歴印刷";
inline constexpr auto kClearCaption = u"履歴全消去";
inline constexpr auto kSortedListCaption = u"並 替";
inline constexpr auto kHistoryListCaption = u"履 歴";
inline constexpr std::array<char16_t, draw::kTileCount> kStarCaptions{u'★', u'☆', u'★',
                                                                      u'☆', u'★', u'☆'};

QString text(const char16_t* literal);
// What a screen reader says for a number tile: its place from the left (1 to 6) and its number,
// or that it shows none.
QString tileName(int place, const QString& caption);

// Asked when the new line stands earlier in the history.
QString repeatQuestion(int count);
// Told instead of adding a line when the history is full.
QString historyFullMessage();
QString clearQuestion();

// Why a file could not be read or written, in words.
QString reason(const posix::Error& error);
QString loadFailedMessage(const history::Failure& failure);
// kept: how many of the lines drawn are in the journal, which the next start saves.
QString saveFailedQuestion(const history::Failure& failure, history::Journal::Holds kept);
// Written to standard error when the program ends without a box and could not save.
QString notSavedMessage(const history::Failure& failure, history::Journal::Holds kept);
QString clearFailedMessage(const history::Failure& failure);
// Written to standard error when the run's printed lines did not reach the print system.
QString handOverMessage(const print::HandOver& handOver);
// A running copy holds the history but cannot be asked to come to the front.
QString unreachableMessage();
// Another user's program holds the history.
QString inUseMessage();
// Written to standard error when the program cannot start for want of descriptors or threads.
QString missingResourceMessage(const desktop::MissingResource& missing);
// The program's folder has a name that is not UTF-8, so its history file cannot be named.
QString unnamedFolderMessage(const QString& folder);
// The history could not be locked: a second start may open a second window on it.
QString unguardedMessage(const desktop::LockProblem& problem);
// The lines drawn cannot be kept on disk as they are drawn, only saved at the close.
QString journalLostMessage(const posix::Error& error);
// Lines that an earlier run left unsaved were put back in the list but could not be saved yet.
QString leftLinesNotSavedMessage(const history::Failure& failure, qsizetype count);
// Lines that ended runs left unsaved wait in their journals: the history has no room for them
// (full), or this run's journal could not take them.
QString linesWaitingMessage(qsizetype count, bool full);

} // namespace texts
