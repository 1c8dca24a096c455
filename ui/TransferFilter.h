#pragma once

#include <QSortFilterProxyModel>
#include <QString>

class CTransferListModel;
struct CRowData;

// What the list shows of the model: the rows whose client, name, service, information
// or state (in words) hold the filter text, without the ended ones while Hide finished is
// on, without refused reads of missing files while those are hidden. The model keeps its
// rows and keys; only the view looks through this.
class CTransferFilter : public QSortFilterProxyModel {
public:
    explicit CTransferFilter(CTransferListModel* model, QObject* parent = nullptr);

    // The quick filters over the list, as toggle buttons: with some on, a row shows
    // when it is of any of them (and holds the filter text).
    enum Quick { QuickFailed = 1, QuickRunning = 2, QuickDhcp = 4, QuickBoot = 8, QuickClient = 16 };
    struct QuickToggle {
        Quick which;
        const char* name; // as the window remembers it
        const char* text; // the button's, with its mnemonic
        const char* description;
    };
    static const QuickToggle kQuick[5];
    static bool IsOfQuick(const CRowData& row, int quick);
    void SetQuick(int quick);
    int QuickFilters() const { return m_nQuick; }

    void SetText(const QString& text);
    void SetHideFinished(bool on);
    void SetHideMissingFiles(bool on);
    bool HidesFinished() const { return m_bHideFinished; }
    QString Text() const { return m_strText; }
    // True while some setting leaves rows out.
    bool IsFiltering() const {
        return !m_strText.isEmpty() || m_bHideFinished || m_bHideMissing || m_nQuick != 0;
    }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    CTransferListModel* m_pModel;
    QString m_strText;
    bool m_bHideFinished = false;
    bool m_bHideMissing = false;
    int m_nQuick = 0;
};
