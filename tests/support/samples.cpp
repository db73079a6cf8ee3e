#include "support/samples.h"

#include <QDir>
#include <QFile>

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
    QByteArray bytes = "[History]\r\nData=" + QByteArray::number(count) + "\r\n";
    for (int k = 1; k <= count; ++k) {
        bytes += "His" + QByteArray::number(k) + '=' + line(k % kLineNumbers).toLatin1() + "\r\n";
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
    QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    entries.removeOne(QStringLiteral("qelvo.ini"));
    return entries;
}

} // namespace samples
