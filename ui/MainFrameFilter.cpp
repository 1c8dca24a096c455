// The filter bar over the list.
#include "MainFrame.h"

#include "TransferFilter.h"
#include "TransferListModel.h"
#include "ZAZO_DizeView.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QToolButton>

QWidget* CMainFrame::CreateFilterBar(QWidget* parent) {
    auto* bar = new QWidget(parent);
    bar->setObjectName(QStringLiteral("filterBar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 2, 4, 2);
    auto* label = new QLabel(QStringLiteral("Fi&lter:"), bar);
    m_pFilterEdit = new QLineEdit(bar);
    m_pFilterEdit->setObjectName(QStringLiteral("filterEdit"));
    m_pFilterEdit->setPlaceholderText(QStringLiteral("client, name, service or state (Ctrl+F)"));
    m_pFilterEdit->setClearButtonEnabled(true);
    m_pFilterEdit->setAccessibleName(QStringLiteral("Filter"));
    m_pFilterEdit->setAccessibleDescription(
        QStringLiteral("Shows only the rows whose client, file, service, information or state "
                       "hold this text"));
    label->setBuddy(m_pFilterEdit);
    m_pHideFinished = new QCheckBox(QStringLiteral("Hide fi&nished"), bar);
    m_pHideFinished->setObjectName(QStringLiteral("hideFinishedCheck"));
    m_pHideFinished->setAccessibleDescription(
        QStringLiteral("Shows only the transfers still in progress"));
    // How many rows the filter leaves, while it leaves some out.
    m_pFilterCount = new QLabel(bar);
    m_pFilterCount->setObjectName(QStringLiteral("filterCount"));
    m_pFilterCount->setAccessibleName(QStringLiteral("Rows shown"));
    m_pFilterCount->hide();
    row->addWidget(label);
    row->addWidget(m_pFilterEdit, 1);
    row->addWidget(m_pHideFinished);
    // The quick filters: toggles, any of them on shows the rows of any that is on.
    for (const CTransferFilter::QuickToggle& toggle : CTransferFilter::kQuick) {
        auto* button = new QToolButton(bar);
        button->setText(QString::fromLatin1(toggle.text));
        button->setObjectName(QStringLiteral("quick_") + QLatin1String(toggle.name));
        button->setCheckable(true);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAccessibleName(QString::fromLatin1(toggle.text).remove(QLatin1Char('&')) +
                                  QStringLiteral(" rows"));
        button->setAccessibleDescription(QString::fromLatin1(toggle.description));
        button->setToolTip(QString::fromLatin1(toggle.description));
        m_quickButtons << button;
        row->addWidget(button);
    }
    row->addWidget(m_pFilterCount);
    const auto count = [this] {
        const int all = m_pView->Model().rowCount();
        const int shown = m_pView->model()->rowCount();
        m_pFilterCount->setVisible(m_pView->Filter().IsFiltering() && all > 0);
        m_pFilterCount->setText(QStringLiteral("showing %1 of %2").arg(shown).arg(all));
    };
    for (QAbstractItemModel* model : {static_cast<QAbstractItemModel*>(m_pView->model()),
                                      static_cast<QAbstractItemModel*>(&m_pView->Model())}) {
        connect(model, &QAbstractItemModel::rowsInserted, m_pFilterCount, count);
        connect(model, &QAbstractItemModel::rowsRemoved, m_pFilterCount, count);
        connect(model, &QAbstractItemModel::modelReset, m_pFilterCount, count);
        connect(model, &QAbstractItemModel::layoutChanged, m_pFilterCount, count);
    }
    connect(m_pFilterEdit, &QLineEdit::textChanged, this, [this, count](const QString& text) {
        m_pView->Filter().SetText(text);
        count();
    });
    connect(m_pHideFinished, &QCheckBox::toggled, this, [this, count](bool on) {
        m_pView->Filter().SetHideFinished(on);
        count();
    });
    for (QToolButton* button : m_quickButtons)
        connect(button, &QToolButton::toggled, this, [this, count] {
            int quick = 0;
            for (int i = 0; i < m_quickButtons.size(); ++i)
                if (m_quickButtons[i]->isChecked())
                    quick |= CTransferFilter::kQuick[i].which;
            m_pView->Filter().SetQuick(quick);
            count();
        });
    auto* find = new QAction(QStringLiteral("Filter"), this);
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, [this] {
        m_pFilterEdit->setFocus(Qt::ShortcutFocusReason);
        m_pFilterEdit->selectAll();
    });
    addAction(find);
    // Escape empties the field, and a second one goes back to the list.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_pFilterEdit);
    escape->setContext(Qt::WidgetShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (m_pFilterEdit->text().isEmpty())
            m_pView->setFocus(Qt::ShortcutFocusReason);
        else
            m_pFilterEdit->clear();
    });
    return bar;
}
