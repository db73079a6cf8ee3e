#pragma once

#include <QStyledItemDelegate>

// Draws list rows as tight as a classic list box: one line of the font per row and a one-pixel
// margin, so that a list 1,140 twips high shows six rows and a history line fits its width.
class CompactListDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const override;

    // The height of a row in a font: digits have no descent, so the ascent and one pixel.
    static int rowHeight(const QFontMetrics& metrics);
    // The room on the left of a row's text.
    static constexpr int kTextMargin = 1;
};
