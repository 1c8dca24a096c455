#include "ZAZO_DizeView.h"

#include "HelpSheetDlg.h"
#include "SecurityCommand.h"
#include "SetupCommand.h"
#include "TransferAnimDlg.h"
#include "TransferFilter.h"
#include "TransferListModel.h"
#include "TransferLog.h"
#include "WaveSound.h"
#include "engine/host/EngineHost.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QMessageBox>
#include <utility>

const char* const CZAZO_DizeView::kListenFailure = "Listen Socket Creation Fails!!";

const char* const CZAZO_DizeView::kAbortQuestion =
    "This command will abort all active current connections!!\n\n"
    "                           Are you sure?";

CZAZO_DizeView::CZAZO_DizeView(std::unique_ptr<CEngineHost> engine, const QHostAddress& address,
                               quint16 port, QWidget* parent)
    : CTransferListView(parent), m_pSounds(std::make_unique<CWaveSound>()),
      m_pEngine(std::move(engine)), m_pLog(std::make_unique<CTransferLog>()) {
    m_pEngine->SetWindow(this);
    m_pEngine->Start(address, port, &m_strListenError);
    connect(AbortRowAction(), &QAction::triggered, this, [this] { OnAbortRow(); });
    connect(ClearFinishedAction(), &QAction::triggered, this, [this] { OnClearFinished(); });
}

CZAZO_DizeView::~CZAZO_DizeView() {
    // Every transfer ends and the listener closes before the rows go.
    m_pEngine->Shutdown();
    m_pEngine->SetWindow(nullptr);
    m_pEngine.reset();
}

bool CZAZO_DizeView::IsListening() const {
    return m_pEngine->IsListening();
}

bool CZAZO_DizeView::Relisten(const QHostAddress& address, quint16 port) {
    return m_pEngine->Relisten(address, port, &m_strListenError);
}

int CZAZO_DizeView::ActiveTransfers() const {
    return m_pEngine->ActiveTransfers();
}

// ---------------------------------------------------------------- commands

void CZAZO_DizeView::OnAbort() {
    if (m_pEngine->ActiveTransfers() == 0) {
        QMessageBox::information(this, QStringLiteral("Abort"),
                                 QStringLiteral("No transfer is in progress: nothing to abort."));
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Abort"),
                    QString::fromLatin1(kAbortQuestion), QMessageBox::Ok | QMessageBox::Cancel,
                    this);
    // Enter must not end every transfer by accident.
    box.setDefaultButton(QMessageBox::Cancel);
    // Transfers go on while the question is open.
    if (box.exec() != QMessageBox::Ok)
        return;
    m_pEngine->Abort();
}

void CZAZO_DizeView::OnClear() {
    if (m_pEngine->ActiveTransfers() != 0)
        return;
    if (m_pEngine->SoundOn())
        PlayWaveResource(SOUND_CLEAR);
    ClearRows();
}

// No question, unlike Abort: the user picked this one transfer.
void CZAZO_DizeView::OnAbortRow() {
    const int row = Model().RowOf(ContextRow());
    if (row >= 0 && Model().Row(row).m_nState == ROW_ACTIVE)
        m_pEngine->AbortRow(ContextRow());
}

void CZAZO_DizeView::OnClearFinished() {
    if (m_pEngine->SoundOn())
        PlayWaveResource(SOUND_CLEAR);
    Model().RemoveEndedRows();
}

void CZAZO_DizeView::OnSetup(CSettingsStore& store) {
    RunSetupCommand(*m_pEngine, store, window());
}

void CZAZO_DizeView::OnSecurity(CSettingsStore& store) {
    RunSecurityCommand(*m_pEngine, store, window());
}

void CZAZO_DizeView::OnHelp() { RunHelpCommand(*m_pEngine, window()); }

void CZAZO_DizeView::SetHideMissingFiles(bool on) {
    Filter().SetHideMissingFiles(on);
}

// ---------------------------------------------------------------- IServerWindow

void CZAZO_DizeView::AddRow(RowHandle row, const RowTexts& texts) {
    if (!Model().AppendRow(row, texts))
        return;
    m_pLog->Append(texts, ROW_ACTIVE);
    RowsChanged();
}

// The log and the ended-row handler hear a row that began (and ended) within the batch
// as they would have heard its calls one by one.
void CZAZO_DizeView::AddRows(const std::vector<NewRow>& rows) {
    const std::vector<bool> added = Model().AppendRows(rows);
    bool any = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!added[i])
            continue;
        any = true;
        const NewRow& r = rows[i];
        m_pLog->Append(r.texts, ROW_ACTIVE);
        const RowTexts* shown = &r.texts;
        for (const RowTexts& step : r.steps)
            if (!CTransferListModel::SameTexts(*shown, step)) {
                m_pLog->Append(step, ROW_ACTIVE);
                shown = &step;
            }
        if (r.state == ROW_ACTIVE)
            continue;
        m_pLog->Append(r.ended, r.state);
        if (m_onRowEnded)
            m_onRowEnded(r.ended, r.state);
    }
    if (any)
        RowsChanged();
}

void CZAZO_DizeView::UpdateRow(RowHandle row, const RowTexts& texts, RowState state) {
    const int at = Model().RowOf(row);
    const bool wasRunning = at >= 0 && Model().Row(at).m_nState == ROW_ACTIVE;
    bool changed = false;
    Model().UpdateRow(row, texts, state, &changed);
    if (!changed)
        return;
    m_pLog->Append(texts, state);
    RowsChanged();
    if (wasRunning && state != ROW_ACTIVE && m_onRowEnded)
        m_onRowEnded(texts, state);
}

void CZAZO_DizeView::BeginChanges() {
    ++m_nBatchDepth;
    Model().BeginChanges();
}

// The commands and the tray follow the rows once per batch, not once per row.
void CZAZO_DizeView::EndChanges() {
    Model().EndChanges();
    if (m_nBatchDepth > 0 && --m_nBatchDepth == 0 && std::exchange(m_bRowsChanged, false))
        RowsChanged();
}

void CZAZO_DizeView::RowsChanged() {
    if (m_nBatchDepth > 0)
        m_bRowsChanged = true;
    else if (m_onRowsChanged)
        m_onRowsChanged();
}

void CZAZO_DizeView::ShowDetails(RowHandle row, const RowDetails& details) {
    Model().SetDetails(row, details);
}

void CZAZO_DizeView::DrawProgress(RowHandle row, qint64 bytesSent, qint64 fileSize) {
    SetProgress(row, bytesSent, fileSize);
}

int CZAZO_DizeView::PlayWaveResource(int id) {
    return m_pSounds->Play(id);
}

void CZAZO_DizeView::StartAnimation() {
    if (m_pAnimation)
        m_pAnimation->PlayContinuously();
}

void CZAZO_DizeView::StopAnimation() {
    if (m_pAnimation)
        m_pAnimation->Stop();
}

void CZAZO_DizeView::ShowMessage(const QString& text) {
    // The window's bar says it better, and tries again by itself.
    if (m_bListenFailureShownByWindow && text.startsWith(QLatin1String(kListenFailure)))
        return;
    if (!window()->isVisible()) {
        m_pendingMessages << text;
        return;
    }
    // One box at a time: a run of failures (every request short of a port, say) must
    // not bury the desktop in windows. Later messages are counted into the open one.
    if (m_pMessageBox) {
        ++m_nMoreMessages;
        QString body = m_strMessage + QStringLiteral("\n\n(and %1 more)").arg(m_nMoreMessages);
        if (text != m_strMessage)
            body += QStringLiteral("\n\nThe last: ") + text;
        m_pMessageBox->setText(body);
        return;
    }
    m_strMessage = text;
    m_nMoreMessages = 0;
    // Shown without waiting: the engine goes on at once. Owned by the frame, so it
    // stays above it.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ZAZO_Dize"), text,
                                QMessageBox::Ok, window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    m_pMessageBox = box;
    box->show();
    box->raise();
    box->activateWindow();
}

void CZAZO_DizeView::ShowPendingMessages() {
    const QStringList pending = std::exchange(m_pendingMessages, {});
    for (const QString& text : pending)
        ShowMessage(text);
}
