#include "app/historylistbox.h"

#include <QAbstractListModel>

// The history's lines as rows of a list model.
class HistoryModel final : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(mLines.size());
    }

    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= mLines.size()) {
            return {};
        }
        return mLines.text(index.row());
    }

    void append(QByteArrayView line)
    {
        const int row = static_cast<int>(mLines.size());
        beginInsertRows({}, row, row);
        mLines.append(line);
        endInsertRows();
    }

    void removeLast()
    {
        const int row = static_cast<int>(mLines.size()) - 1;
        beginRemoveRows({}, row, row);
        mLines.removeLast();
        endRemoveRows();
    }

    void reset(history::HistoryLines lines)
    {
        beginResetModel();
        mLines = std::move(lines);
        endResetModel();
    }

    [[nodiscard]] const history::HistoryLines& lines() const { return mLines; }

private:
    history::HistoryLines mLines;
};

HistoryListBox::HistoryListBox(QWidget* parent)
    : QListView(parent)
    , mModel(new HistoryModel(this))
{
    setModel(mModel);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void HistoryListBox::clear()
{
    setLines({});
}

void HistoryListBox::addItem(const QString& text)
{
    mModel->append(text.toLatin1());
    scrollToBottom();
}

void HistoryListBox::removeLast()
{
    mModel->removeLast();
}

void HistoryListBox::setLines(history::HistoryLines lines)
{
    mModel->reset(std::move(lines));
    scrollToBottom();
}

int HistoryListBox::count() const
{
    return static_cast<int>(mModel->lines().size());
}

const history::HistoryLines& HistoryListBox::lines() const
{
    return mModel->lines();
}

#include "historylistbox.moc"
