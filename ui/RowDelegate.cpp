#include "RowDelegate.h"

#include "TransferListModel.h"
#include "WindowResources.h"

#include <QPainter>

CRowDelegate::CRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {
    InitWindowResources();
    m_rowPicture = QPixmap(QStringLiteral(":/window/row.png"));
}

int CRowDelegate::BarWidth(double fraction, int cellWidth) {
    if (fraction <= 0)
        return 0;
    return int(qMin(fraction, 1.0) * cellWidth); // truncated toward zero
}

void CRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    const QRect cell = option.rect;
    const int column = index.column();
    painter->save();
    painter->setClipRect(cell);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    painter->fillRect(cell,
                      selected ? CTransferListModel::kSelection : CTransferListModel::kBackground);
    // Scaled displays (QT_SCALE_FACTOR=2) stretch the small row picture: smoothly.
    painter->setRenderHint(QPainter::SmoothPixmapTransform);

    const QFontMetrics metrics(option.font);
    const int space = metrics.horizontalAdvance(QLatin1Char(' '));
    const int margin = 2 * space;
    QRect textRect = cell.adjusted(margin, 0, -margin, 0);

    if (column == CTransferListModel::ColClient) {
        if (!m_rowPicture.isNull()) {
            const int top = cell.top() + (cell.height() - m_rowPicture.height()) / 2;
            painter->drawPixmap(cell.left(), top, m_rowPicture);
        }
        textRect = cell.adjusted(m_rowPicture.width() + space, 0, -margin, 0);
    }

    if (column == CTransferListModel::ColSize) {
        const QVariant progress = index.data(CTransferListModel::ProgressRole);
        if (progress.isValid()) {
            const int w = BarWidth(progress.toDouble(), cell.width());
            if (w > 0)
                painter->fillRect(
                    QRect(cell.left(), cell.top() + kBarInset, w, cell.height() - 2 * kBarInset),
                    CTransferListModel::kProgressBar);
        }
    }

    const QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty() && textRect.width() > 0) {
        const auto align = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
        painter->setFont(option.font);
        painter->setPen(index.data(Qt::ForegroundRole).value<QColor>());
        if (m_texts.size() >= kMaxTexts || option.font != m_textFont) {
            m_texts.clear();
            m_textFont = option.font;
        }
        const QPair<QString, int> key(text, textRect.width());
        auto laid = m_texts.constFind(key);
        if (laid == m_texts.constEnd()) {
            // One line: what drawText's Qt::TextSingleLine makes of a line break.
            QString shown = metrics.elidedText(text, Qt::ElideRight, textRect.width());
            shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
            QStaticText line(shown);
            line.setTextFormat(Qt::PlainText);
            line.prepare(QTransform(), option.font);
            laid = m_texts.insert(key, line);
        }
        const QSizeF size = laid->size();
        qreal x = textRect.left();
        if (align & Qt::AlignRight)
            x = textRect.left() + textRect.width() - size.width();
        else if (align & Qt::AlignHCenter)
            x = textRect.left() + (textRect.width() - size.width()) / 2;
        painter->drawStaticText(QPointF(x, textRect.top() + (textRect.height() - size.height()) / 2), *laid);
    }
    painter->restore();
}

QSize CRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QFontMetrics metrics(option.font);
    const int height = qMax(metrics.height() + 4, m_rowPicture.height() + 2);
    const int column = index.column();
    const int width = column >= 0 && column < CTransferListModel::ColumnCount
                          ? CTransferListModel::kColumns[column].width
                          : 100;
    return {width, height};
}
