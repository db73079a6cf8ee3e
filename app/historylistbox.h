#pragma once

#include "history/historylines.h"

#include <QAbstractScrollArea>

// The history list box: the history's lines as they are stored, in rows of one height, scrolled a
// row at a time, one of them selectable. Rows are found by arithmetic, so a full history of
// 32,767 lines shows at once and a line is added or taken away in constant time, where a list
// view lays every row out again. A screen reader meets a list of lines.
class HistoryListBox final : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit HistoryListBox(QWidget* parent = nullptr);

    void clear();
    // Adds a line, as stored, at the end and brings it into view.
    void addItem(QByteArrayView line);
    void removeLast();
    // Shows these lines, the newest in view.
    void setLines(history::HistoryLines lines);
    [[nodiscard]] int count() const;
    // All lines, oldest first.
    [[nodiscard]] const history::HistoryLines& lines() const;

    // The selected row, or -1.
    [[nodiscard]] int currentRow() const;
    // Where a row is in the viewport, in view or not.
    [[nodiscard]] QRect rowRect(int row) const;
    // The row at a point of the viewport, or -1.
    [[nodiscard]] int rowAt(QPoint point) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    [[nodiscard]] int rowHeight() const;
    [[nodiscard]] int rowsInView() const;
    void layOut();
    void updateScrollBar();
    void scrollToBottom();
    void setCurrentRow(int row);
    void linesChanged(int from);

    history::HistoryLines mLines;
    int mCurrent = -1;
    // Measured from the font when first needed: the font database that this takes is loaded
    // after the window is shown, as for any window.
    mutable int mRowHeight = 0;
    // The scroll bar follows the lines once the list box has been shown; until then, whether
    // the newest line is to be brought into view.
    bool mLaidOut = false;
    bool mScrollToBottom = false;
};
