#pragma once

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QStaticText>
#include <QStyledItemDelegate>

// Paints the transfer rows: pale green ground, the row picture before the client
// address, every text in the colour of the row's state with margins of one and two
// space widths, one line ending in an ellipsis when too long, the pink send bar in
// the Size cell; selected rows on a darker green (fixed too, like the text colours),
// and nothing for focus.
class CRowDelegate : public QStyledItemDelegate {
public:
    static constexpr int kBarInset = 2; // the bar keeps 2 px from the row's top and bottom

    explicit CRowDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Width in pixels of the bar for a fraction in a cell of the given width.
    static int BarWidth(double fraction, int cellWidth);

private:
    QPixmap m_rowPicture;
    // Texts laid out once, by text and the width they had: shaping is most of a row's
    // paint, and the list repaints the same few texts (clients, names, "Transfer
    // Complete") whenever rows come. Cleared for another font or past kMaxTexts.
    static constexpr qsizetype kMaxTexts = 1000;
    mutable QHash<QPair<QString, int>, QStaticText> m_texts;
    mutable QFont m_textFont;
};
