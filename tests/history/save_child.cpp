// Saves and clears a full history over and over until it is killed: the file it leaves must
// always be whole. Usage: history_save_child FILE
#include "history/historyfile.h"

#include <QString>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    HistoryLines lines;
    for (int k = 1; k <= history::kMaxStoredCount; ++k) {
        lines.append(QStringLiteral("%1  ;  07  ;  15  ;  23  ;  30  ;  41")
                         .arg(k % 100, 2, 10, QChar(u'0'))
                         .toLatin1());
    }
    for (;;) {
        if (history::saveHistory(path, lines, 256).failure) {
            return 1;
        }
        history::HistoryFile file(path, 256);
        if (history::clearStoredHistory(file, file.storedCount().value)) {
            return 1;
        }
    }
}
