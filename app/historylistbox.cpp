#include "app/historylistbox.h"

#include "app/compactlistdelegate.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

// A line of the history as a screen reader meets it: an item of the list.
class HistoryRowAccessible final : public QAccessibleInterface {
public:
    HistoryRowAccessible(HistoryListBox* list, int row)
        : mList(list)
        , mRow(row)
    {
    }

    [[nodiscard]] bool isValid() const override { return mList && mRow < mList->count(); }
    [[nodiscard]] QObject* object() const override { return nullptr; }
    [[nodiscard]] QWindow* window() const override
    {
        return mList ? mList->window()->windowHandle() : nullptr;
    }
    [[nodiscard]] QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(mList);
    }
    [[nodiscard]] QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* /*child*/) const override
    {
        return -1;
    }
    [[nodiscard]] QAccessibleInterface* childAt(int /*x*/, int /*y*/) const override
    {
        return nullptr;
    }
    [[nodiscard]] QString text(QAccessible::Text kind) const override
    {
        return isValid() && kind == QAccessible::Name ? mList->lines().text(mRow) : QString();
    }
    void setText(QAccessible::Text /*kind*/, const QString& /*text*/) override {}
    [[nodiscard]] QRect rect() const override
    {
        if (!isValid()) {
            return {};
        }
        const QRect row = mList->rowRect(mRow);
        return {mList->viewport()->mapToGlobal(row.topLeft()), row.size()};
    }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::ListItem; }
    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        if (isValid()) {
            const bool current = mList->currentRow() == mRow;
            state.selected = current;
            state.focused = current && mList->hasFocus();
            state.invisible = !mList->viewport()->rect().intersects(mList->rowRect(mRow));
        }
        return state;
    }

private:
    QPointer<HistoryListBox> mList;
    int mRow;
};

// The list box as a screen reader meets it: a list whose items are the lines, made as they are
// asked for.
class HistoryListAccessible final : public QAccessibleWidget {
public:
    explicit HistoryListAccessible(HistoryListBox* list)
        : QAccessibleWidget(list, QAccessible::List)
    {
    }
    ~HistoryListAccessible() override { forgetRowsFrom(0); }
    HistoryListAccessible(const HistoryListAccessible&) = delete;
    HistoryListAccessible& operator=(const HistoryListAccessible&) = delete;

    [[nodiscard]] int childCount() const override { return list()->count(); }
    [[nodiscard]] QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount()) {
            return nullptr;
        }
        if (const auto found = mRows.constFind(index); found != mRows.cend()) {
            return QAccessible::accessibleInterface(*found);
        }
        auto* row = new HistoryRowAccessible(list(), index);
        mRows.insert(index, QAccessible::registerAccessibleInterface(row));
        return row;
    }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override
    {
        const QAccessible::Id id = QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child));
        return mRows.key(id, -1);
    }
    [[nodiscard]] QAccessibleInterface* childAt(int x, int y) const override
    {
        return child(list()->rowAt(list()->viewport()->mapFromGlobal(QPoint(x, y))));
    }
    // The rows from this one on have changed or gone.
    void forgetRowsFrom(int from)
    {
        for (auto row = mRows.begin(); row != mRows.end();) {
            if (row.key() >= from) {
                QAccessible::deleteAccessibleInterface(row.value());
                row = mRows.erase(row);
            } else {
                ++row;
            }
        }
    }

private:
    [[nodiscard]] HistoryListBox* list() const { return static_cast<HistoryListBox*>(widget()); }

    mutable QHash<int, QAccessible::Id> mRows;
};

QAccessibleInterface* accessibleHistoryList(const QString& /*key*/, QObject* object)
{
    if (auto* list = qobject_cast<HistoryListBox*>(object)) {
        return new HistoryListAccessible(list);
    }
    return nullptr;
}

} // namespace

HistoryListBox::HistoryListBox(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    static const bool accessible = (QAccessible::installFactory(accessibleHistoryList), true);
    Q_UNUSED(accessible)
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void HistoryListBox::clear()
{
    setLines({});
}

void HistoryListBox::addItem(QByteArrayView line)
{
    mLines.append(line);
    linesChanged(count() - 1);
    scrollToBottom();
}

void HistoryListBox::removeLast()
{
    mLines.removeLast();
    if (mCurrent >= count()) {
        mCurrent = -1;
    }
    linesChanged(count());
}

void HistoryListBox::setLines(history::HistoryLines lines)
{
    mLines = std::move(lines);
    mCurrent = -1;
    linesChanged(0);
    scrollToBottom();
}

int HistoryListBox::count() const
{
    return static_cast<int>(mLines.size());
}

const history::HistoryLines& HistoryListBox::lines() const
{
    return mLines;
}

int HistoryListBox::currentRow() const
{
    return mCurrent;
}

QRect HistoryListBox::rowRect(int row) const
{
    return {0, (row - verticalScrollBar()->value()) * rowHeight(), viewport()->width(),
            rowHeight()};
}

int HistoryListBox::rowAt(QPoint point) const
{
    if (!viewport()->rect().contains(point)) {
        return -1;
    }
    const int row = verticalScrollBar()->value() + point.y() / rowHeight();
    return row < count() ? row : -1;
}

int HistoryListBox::rowHeight() const
{
    if (mRowHeight == 0) {
        mRowHeight = CompactListDelegate::rowHeight(fontMetrics());
    }
    return mRowHeight;
}

int HistoryListBox::rowsInView() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

void HistoryListBox::layOut()
{
    mLaidOut = true;
    updateScrollBar();
    if (std::exchange(mScrollToBottom, false)) {
        scrollToBottom();
    }
}

void HistoryListBox::updateScrollBar()
{
    if (!mLaidOut) {
        return;
    }
    verticalScrollBar()->setRange(0, std::max(0, count() - rowsInView()));
    verticalScrollBar()->setPageStep(rowsInView());
}

void HistoryListBox::scrollToBottom()
{
    if (!mLaidOut) {
        mScrollToBottom = true;
        return;
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void HistoryListBox::setCurrentRow(int row)
{
    mCurrent = row;
    QScrollBar* scroll = verticalScrollBar();
    if (row < scroll->value()) {
        scroll->setValue(row);
    } else if (row >= scroll->value() + rowsInView()) {
        scroll->setValue(row - rowsInView() + 1);
    }
    viewport()->update();
    if (QAccessible::isActive() && hasFocus()) {
        QAccessibleEvent focus(QAccessible::queryAccessibleInterface(this)->child(row),
                               QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

void HistoryListBox::linesChanged(int from)
{
    updateScrollBar();
    viewport()->update();
    if (QAccessible::isActive()) {
        if (auto* list =
                dynamic_cast<HistoryListAccessible*>(QAccessible::queryAccessibleInterface(this))) {
            list->forgetRowsFrom(from);
        }
        QAccessibleEvent reorder(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reorder);
    }
}

void HistoryListBox::paintEvent(QPaintEvent* event)
{
    // Before the first layout the rows in view are not known yet.
    if (!mLaidOut) {
        return;
    }
    QPainter painter(viewport());
    painter.setFont(font());
    const int first = verticalScrollBar()->value();
    const int last = std::min(count() - 1, first + viewport()->height() / rowHeight());
    for (int row = first; row <= last; ++row) {
        const QRect rect = rowRect(row);
        if (!rect.intersects(event->rect())) {
            continue;
        }
        const bool current = row == mCurrent;
        if (current) {
            painter.fillRect(rect, palette().brush(QPalette::Highlight));
        }
        painter.setPen(palette().color(current ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rect.adjusted(CompactListDelegate::kTextMargin, 0, 0, 0),
                         Qt::AlignLeft | Qt::AlignVCenter, mLines.text(row));
        if (current && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect;
            focus.backgroundColor = palette().color(QPalette::Highlight);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
}

void HistoryListBox::mousePressEvent(QMouseEvent* event)
{
    const int row = rowAt(event->position().toPoint());
    setFocus(Qt::MouseFocusReason);
    if (row >= 0) {
        setCurrentRow(row);
    }
}

void HistoryListBox::keyPressEvent(QKeyEvent* event)
{
    const int last = count() - 1;
    int row = mCurrent;
    switch (event->key()) {
    case Qt::Key_Up:
        row = row < 0 ? last : row - 1;
        break;
    case Qt::Key_Down:
        row = row + 1;
        break;
    case Qt::Key_PageUp:
        row = row < 0 ? last : row - rowsInView();
        break;
    case Qt::Key_PageDown:
        row = row + rowsInView();
        break;
    case Qt::Key_Home:
        row = 0;
        break;
    case Qt::Key_End:
        row = last;
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (last >= 0) {
        setCurrentRow(std::clamp(row, 0, last));
    }
}

void HistoryListBox::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void HistoryListBox::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    if (!mLaidOut) {
        // Once the window is on its way to the screen.
        QTimer::singleShot(0, this, &HistoryListBox::layOut);
    }
}

void HistoryListBox::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void HistoryListBox::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void HistoryListBox::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        mRowHeight = 0;
        updateScrollBar();
    }
    QAbstractScrollArea::changeEvent(event);
}
