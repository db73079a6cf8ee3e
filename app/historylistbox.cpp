#include "app/historylistbox.h"

#include <QStringListModel>

HistoryListBox::HistoryListBox(QWidget* parent)
    : QListView(parent)
    , mModel(new QStringListModel(this))
{
    setModel(mModel);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void HistoryListBox::clear()
{
    mModel->setStringList({});
}

void HistoryListBox::addItem(const QString& text)
{
    const int row = mModel->rowCount();
    mModel->insertRows(row, 1);
    mModel->setData(mModel->index(row), text);
}

void HistoryListBox::removeItem(int position)
{
    mModel->removeRows(position, 1);
}

void HistoryListBox::setItems(const QStringList& items)
{
    mModel->setStringList(items);
}

int HistoryListBox::count() const
{
    return mModel->rowCount();
}

QString HistoryListBox::item(int position) const
{
    return mModel->data(mModel->index(position)).toString();
}

QStringList HistoryListBox::items() const
{
    return mModel->stringList();
}
