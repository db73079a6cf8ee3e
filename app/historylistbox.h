#pragma once

#include <QListView>

class QStringListModel;

// The history list box: a view over a list of strings, so that a full history of 32,767 lines
// is shown at once without an item object per line.
class HistoryListBox final : public QListView {
    Q_OBJECT

public:
    explicit HistoryListBox(QWidget* parent = nullptr);

    void clear();
    void addItem(const QString& text);
    void removeItem(int position);
    void setItems(const QStringList& items);
    [[nodiscard]] int count() const;
    [[nodiscard]] QString item(int position) const;
    // All lines, oldest first; shares the list's storage until either side changes.
    [[nodiscard]] QStringList items() const;

private:
    QStringListModel* mModel;
};
