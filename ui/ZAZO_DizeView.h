#pragma once

#include "engine/server/ServerWindow.h"
#include "TransferListView.h"

#include <QHostAddress>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

class CEngineHost;
class CSettingsStore;
class CTransferAnimDlg;
class QMessageBox;
class CTransferLog;
class CWaveSound;

// The transfer list as the server's window: it holds the engine it is handed (on the
// engine's own thread), shows the engine's rows, plays its sounds, drives the animation
// and carries the list's commands (Abort, Clear, Setup, Security, Help).
class CZAZO_DizeView : public CTransferListView, public IServerWindow {
public:
    // Becomes the engine's window, loads the live settings (start-up sound) and opens
    // the listener on address:port. A listener that cannot open is reported by the
    // engine; the window still comes up and ListenError() tells why.
    CZAZO_DizeView(std::unique_ptr<CEngineHost> engine, const QHostAddress& address,
                   quint16 port, QWidget* parent = nullptr);
    ~CZAZO_DizeView() override;

    // The frame's animation, once it exists.
    void SetAnimation(CTransferAnimDlg* animation) { m_pAnimation = animation; }

    CEngineHost& Engine() const { return *m_pEngine; }
    CWaveSound& Sounds() const { return *m_pSounds; }
    bool IsListening() const;
    QString ListenError() const { return m_strListenError; }
    // Listens again on address:port (the frame's Retry); true once it listens.
    bool Relisten(const QHostAddress& address, quint16 port);
    int ActiveTransfers() const;
    CTransferLog& Log() const { return *m_pLog; }

    // Boxes asked for before the window was shown wait for it, so that they open
    // above it rather than behind it; the frame calls this once it is shown.
    void ShowPendingMessages();
    // Called after every row change (the frame's tray counts transfers from it).
    void SetRowsChangedHandler(std::function<void()> handler) {
        m_onRowsChanged = std::move(handler);
    }

    // Called when a row ends (failed, received or sent), with its texts and how it ended.
    void SetRowEndedHandler(std::function<void(const RowTexts&, RowState)> handler) {
        m_onRowEnded = std::move(handler);
    }

    // View: rows of reads refused for want of the file are hidden while this is on.
    void SetHideMissingFiles(bool on);
    // The window tells of a listener that cannot open, and retries: no box for it then.
    void SetListenFailureShownByWindow(bool on) { m_bListenFailureShownByWindow = on; }
    // How the engine's message about it begins.
    static const char* const kListenFailure;

    // Commands.
    void OnAbort();
    void OnClear();
    // The context menu's Abort This Transfer and Clear Finished Rows.
    void OnAbortRow();
    void OnClearFinished();
    void OnSetup(CSettingsStore& store);
    void OnSecurity(CSettingsStore& store);
    void OnHelp();

    // IServerWindow
    void AddRow(RowHandle row, const RowTexts& texts) override;
    void AddRows(const std::vector<NewRow>& rows) override;
    void UpdateRow(RowHandle row, const RowTexts& texts, RowState state) override;
    void DrawProgress(RowHandle row, qint64 bytesSent, qint64 fileSize) override;
    int PlayWaveResource(int id) override;
    void StartAnimation() override;
    void StopAnimation() override;
    void ShowMessage(const QString& text) override;
    void ShowDetails(RowHandle row, const RowDetails& details) override;
    void BeginChanges() override;
    void EndChanges() override;

    static const char* const kAbortQuestion;

private:
    std::unique_ptr<CWaveSound> m_pSounds;
    std::unique_ptr<CEngineHost> m_pEngine;
    CTransferAnimDlg* m_pAnimation = nullptr;
    QString m_strListenError;
    std::unique_ptr<CTransferLog> m_pLog;
    QStringList m_pendingMessages;
    QPointer<QMessageBox> m_pMessageBox; // the one message box open, if any
    QString m_strMessage;                // its first text
    int m_nMoreMessages = 0;             // messages since, counted into it
    std::function<void()> m_onRowsChanged;
    void RowsChanged();
    int m_nBatchDepth = 0;       // inside the engine's batch of changes
    bool m_bRowsChanged = false; // rows changed in it: the handler runs at its end
    std::function<void(const RowTexts&, RowState)> m_onRowEnded;
    bool m_bListenFailureShownByWindow = false;
};
