// Saves and clears a full history over and over until it is killed: the file it leaves must
// always be whole. Usage: history_save_child FILE
#include "history/historyfile.h"
#include "support/samples.h"

#include <QString>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const history::HistoryLines lines = samples::numberedLines(history::kMaxLines);
    for (;;) {
        if (history::clearHistory(path, history::readStoredCount(path).value)) {
            return 1;
        }
        if (history::saveHistory(path, lines, 0).failure) {
            return 1;
        }
    }
}
