#include "support/samples.h"

#include "history/historyfile.h"
#include "history/journal.h"
#include "posix/process.h"

#include <QDir>
#include <QFile>
#include <sys/wait.h>
#include <unistd.h>

namespace samples {

namespace {
constexpr int kLineNumbers = 100;
}

QString exampleLine()
{
    return QStringLiteral("02  ;  07  ;  15  ;  23  ;  30  ;  41");
}

QString line(int n)
{
    return QStringLiteral("%1  ;  07  ;  15  ;  23  ;  30  ;  41").arg(n, 2, 10, QChar(u'0'));
}

history::HistoryLines numberedLines(int count)
{
    history::HistoryLines lines;
    for (int k = 1; k <= count; ++k) {
        lines.append(line(k % kLineNumbers).toLatin1());
    }
    return lines;
}

history::HistoryLines linesOf(const QStringList& texts)
{
    history::HistoryLines lines;
    for (const QString& text : texts) {
        lines.append(text.toLatin1());
    }
    return lines;
}

QByteArray historyFile(int count)
{
    QStringList lines;
    for (int k = 1; k <= count; ++k) {
        lines << line(k % kLineNumbers);
    }
    return historyFile(lines);
}

QByteArray historyFile(const QStringList& lines)
{
    QByteArray bytes = "[History]\r\nData=" + QByteArray::number(lines.size()) + "\r\n";
    for (qsizetype k = 1; k <= lines.size(); ++k) {
        bytes +=
            history::lineKey(static_cast<qint32>(k)) + '=' + lines.at(k - 1).toLatin1() + "\r\n";
    }
    return bytes;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QStringList strayFiles(const QString& folder)
{
    QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                 QDir::NoDotAndDotDot);
    entries.removeOne(QStringLiteral("qelvo.ini"));
    return entries;
}

QStringList journals(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".qelvo.ini.*.journal")},
                                  QDir::Hidden | QDir::Files);
}

QByteArray lockLine(qint64 pid, const QByteArray& start, qint64 seconds, const QByteArray& machine,
                    const QByteArray& space)
{
    const posix::ProcessIdentity& self = posix::ProcessIdentity::self();
    return posix::ProcessIdentity{machine.isEmpty() ? self.machine : machine, self.boot,
                                  space.isEmpty() ? self.space : space, pid, start}
               .text() +
           ".1f " + QByteArray::number(seconds) + '\n';
}

bool endedRunDrew(const QString& history, const QByteArray& line)
{
    const pid_t run = ::fork();
    if (run == 0) {
        history::Journal ended;
        ::_exit(ended.prepare(history) || ended.shown(line) ? 1 : 0);
    }
    int status = -1;
    ::waitpid(run, &status, 0);
    return status == 0;
}

} // namespace samples
