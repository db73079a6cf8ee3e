#pragma once

#include "history/historylines.h"

#include <QListView>

class HistoryModel;

// The history list box: a list view over the history's lines as they are stored, so that a full
// history of 32,767 lines is shown at once without an object per line. Rows of one height are
// laid out without measuring every line, and a screen reader meets a list of lines.
class HistoryListBox final : public QListView {
    Q_OBJECT

public:
    explicit HistoryListBox(QWidget* parent = nullptr);

    void clear();
    // Adds a line at the end and brings it into view.
    void addItem(const QString& text);
    void removeLast();
    // Shows these lines, the newest in view.
    void setLines(history::HistoryLines lines);
    [[nodiscard]] int count() const;
    // All lines, oldest first.
    [[nodiscard]] const history::HistoryLines& lines() const;

private:
    HistoryModel* mModel;
};
