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

void CTransferFilter::SetHideMissingFiles(bool on) {
    if (on == m_bHideMissing)
        return;
    m_bHideMissing = on;
    invalidateRowsFilter();
}

bool CTransferFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const CRowData& row = m_pModel->Row(sourceRow);
    if (m_bHideMissing && row.m_texts.missingFile)
        return false;
    if (m_bHideFinished && row.m_nState != ROW_ACTIVE)
        return false;
    if (m_strText.isEmpty())
        return true;
    const RowTexts& t = row.m_texts;
    for (const QString* field : {&t.client, &t.host, &t.file, &t.service, &t.info})
        if (field->contains(m_strText, Qt::CaseInsensitive))
            return true;
    return CTransferListModel::StateWord(row.m_nState).contains(m_strText, Qt::CaseInsensitive);
}
