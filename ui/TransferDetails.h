#pragma once

#include "engine/server/ServerWindow.h"

#include <QList>
#include <QPair>
#include <QWidget>

class CSpeedGraph;
class CTransferListModel;
class QTextBrowser;

// The details pane under the list: everything the window knows of one row (a
// transfer, a DHCP exchange, a boot offer) and the transfer's speed over time.
class CTransferDetails : public QWidget {
public:
    CTransferDetails(const CTransferListModel& model, QWidget* parent = nullptr);

    // What is shown of the model's row: label and value, in reading order. Fields
    // the row does not have are left out. An empty list for a row that is gone.
    static QList<QPair<QString, QString>> Fields(const CTransferListModel& model, int row);

    // Shows the row under the key (0: none) and keeps showing it as it changes.
    void ShowRow(RowHandle handle);
    RowHandle Row() const { return m_nRow; }
    // Reads the row again (the window calls this once a second while it is open).
    void Refresh();

    QTextBrowser* Text() const { return m_pText; }
    CSpeedGraph* Graph() const { return m_pGraph; }

private:
    const CTransferListModel& m_model;
    RowHandle m_nRow = 0;
    QTextBrowser* m_pText;
    CSpeedGraph* m_pGraph;
    QString m_strShown;
};
