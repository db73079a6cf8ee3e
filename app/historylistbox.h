#pragma once

#include "history/historylines.h"

#include <QTableView>

class HistoryModel;

// The history list box: a view over the history's lines as they are stored, so that a full
// history of 32,767 lines is shown at once without an object per line. It is a one-column table
// without headers or grid, which looks and behaves like a list box but, with rows of one fixed
// height, shows a full history without laying out every row first.
class HistoryListBox final : public QTableView {
    Q_OBJECT

public:
    explicit HistoryListBox(QWidget* parent = nullptr);

    void clear();
    void addItem(const QString& text);
    void removeLast();
    void setLines(history::HistoryLines lines);
    [[nodiscard]] int count() const;
    // All lines, oldest first.
    [[nodiscard]] const history::HistoryLines& lines() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void fitRowsToFont();

    HistoryModel* mModel;
};
