#include "TransferFilter.h"

#include "TransferListModel.h"

CTransferFilter::CTransferFilter(CTransferListModel* model, QObject* parent)
    : QSortFilterProxyModel(parent), m_pModel(model) {
    setSourceModel(model);
    // A row that ends while Hide finished is on leaves the list then.
    setDynamicSortFilter(true);
}

void CTransferFilter::SetText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == m_strText)
        return;
    m_strText = trimmed;
    invalidateRowsFilter();
}

void CTransferFilter::SetHideFinished(bool on) {
    if (on == m_bHideFinished)
        return;
    m_bHideFinished = on;
    invalidateRowsFilter();
}

const CTransferFilter::QuickToggle CTransferFilter::kQuick[5] = {
    {QuickFailed, "failed", "Fail&ed", "Shows the rows that failed"},
    {QuickRunning, "running", "R&unning", "Shows the rows still running"},
    {QuickDhcp, "dhcp", "DH&CP", "Shows the DHCP server's rows"},
    {QuickBoot, "boot", "&Boot", "Shows the boot offers and boot menus"},
    {QuickClient, "client", "Cl&ient", "Shows the transfers sent to or fetched from a device"},
};

bool CTransferFilter::IsOfQuick(const CRowData& row, int quick) {
    const QString& service = row.m_texts.service;
    return ((quick & QuickFailed) && row.m_nState == ROW_FAILED) ||
           ((quick & QuickRunning) && row.m_nState == ROW_ACTIVE) ||
           ((quick & QuickDhcp) && service == QLatin1String("DHCP")) ||
           ((quick & QuickBoot) && service.startsWith(QLatin1String("Boot"))) ||
           ((quick & QuickClient) && row.m_texts.device);
}

void CTransferFilter::SetQuick(int quick) {
    if (quick == m_nQuick)
        return;
    m_nQuick = quick;
    invalidateRowsFilter();
}

void CTransferFilter::SetHideMissingFiles(bool on) {
    if (on == m_bHideMissing)
        return;
    m_bHideMissing = on;
    invalidateRowsFilter();
}

// Sizes, times and speeds by their figures, texts as a person reads them; equal rows stay in the order
// they came, so a sort never shuffles rows that tie.
bool CTransferFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const CRowData& a = m_pModel->Row(left.row());
    const CRowData& b = m_pModel->Row(right.row());
    if (const auto x = m_pModel->SortKey(left.row(), left.column())) {
        const qint64 y = *m_pModel->SortKey(right.row(), right.column());
        if (*x != y)
            return *x < y;
    } else {
        const int order = QString::localeAwareCompare(left.data().toString(), right.data().toString());
        if (order != 0)
            return order < 0;
    }
    return a.m_key < b.m_key;
}

bool CTransferFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const CRowData& row = m_pModel->Row(sourceRow);
    if (m_bHideMissing && row.m_texts.missingFile)
        return false;
    if (m_bHideFinished && row.m_nState != ROW_ACTIVE)
        return false;
    if (m_nQuick != 0 && !IsOfQuick(row, m_nQuick))
        return false;
    if (m_strText.isEmpty())
        return true;
    const RowTexts& t = row.m_texts;
    for (const QString* field : {&t.client, &t.host, &t.file, &t.service, &t.info})
        if (field->contains(m_strText, Qt::CaseInsensitive))
            return true;
    return CTransferListModel::StateWord(row.m_nState).contains(m_strText, Qt::CaseInsensitive);
}
