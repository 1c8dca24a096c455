#include "engine/host/ClientRows.h"

#include <algorithm>
#include <climits>

namespace {
const QString kNotAnswering = QStringLiteral("Device not answering");

QString waitingText(int secondsLeft) {
    return QStringLiteral("Waiting for the device (%1 s left)....").arg(secondsLeft);
}
} // namespace

struct CClientRows::Row {
    RowHandle handle = 0;
    int timerId = 0;
    RowTexts texts;
    QString optionNote; // " (blksize 1468, windowsize 16)" once negotiated
    bool replacing = false; // a fetch over an existing file
    std::unique_ptr<CClientTransfer> transfer;
};

CClientRows::CClientRows(IPlatform& platform, IServerWindow& window, Hooks hooks)
    : m_platform(platform), m_window(window), m_hooks(std::move(hooks)) {}

CClientRows::~CClientRows() { Discard(); }

void CClientRows::Start(const TftpClient::Request& request, const QString& shownFile) {
    FreeRetired();
    auto row = std::make_unique<Row>();
    Row* r = row.get();
    r->timerId = m_nNextTimer;
    // Ids are taken in turn and never reused while running (2^31 starts away).
    m_nNextTimer = m_nNextTimer == INT_MAX ? kFirstTimerId : m_nNextTimer + 1;
    r->texts.client = request.server.toString();
    r->texts.file = shownFile;
    // The server's words: a file that leaves this machine is sent, whoever asked.
    r->texts.service = request.put ? QStringLiteral("Send") : QStringLiteral("Receive");
    r->texts.device = true;
    r->texts.info = request.waitSeconds > 0 ? waitingText(request.waitSeconds)
                                            : QStringLiteral("Request sent....");
    r->replacing = !request.put && m_platform.files().probeExisting(request.local).cause == FileCause::None;
    // Counted as running from its first row on: Exit asks, Abort and Clear know of it.
    m_rows.push_back(std::move(row));
    r->handle = m_hooks.addRow(r->texts);
    m_hooks.playSound(SOUND_REQUEST);

    CClientTransfer::Report report;
    report.answered = [this, r] {
        const CClientTransfer& t = *r->transfer;
        if (t.BlockSize() != 512 || t.WindowSize() != 1)
            r->optionNote = QStringLiteral(" (blksize %1, windowsize %2)").arg(t.BlockSize()).arg(t.WindowSize());
        r->texts.info = (t.Request().put ? QStringLiteral("Total file size is %1 Bytes").arg(t.Total())
                                         : QStringLiteral("Data Receiving....")) +
                        r->optionNote;
        Update(*r, ROW_ACTIVE);
    };
    report.progress = [this, r](qint64 done, qint64 total) { m_window.DrawProgress(r->handle, done, total); };
    report.completed = [this, r] {
        const bool put = r->transfer->Request().put;
        r->texts.info = (put ? QStringLiteral("Transfer Complete") : QStringLiteral("Receive Complete")) +
                        (r->replacing ? QStringLiteral(" (replaced)") : QString()) + r->optionNote;
        r->texts.bytes = r->transfer->Bytes();
        r->texts.size = QString::number(r->texts.bytes) + QStringLiteral(" Bytes");
        Update(*r, put ? ROW_SENT : ROW_RECEIVED);
        m_hooks.playSound(put ? SOUND_SENT : SOUND_RECEIVED);
    };
    report.stillWaiting = [this, r](int left) {
        r->texts.info = waitingText(left);
        Update(*r, ROW_ACTIVE);
    };
    report.finished = [this, r] { Ended(*r); };
    r->transfer = std::make_unique<CClientTransfer>(m_platform, r->timerId, request, std::move(report));
    QString error;
    if (!r->transfer->Start(&error)) {
        r->texts.info = QStringLiteral("Error: ") + error;
        Update(*r, ROW_FAILED);
        m_hooks.playSound(SOUND_FAILED);
        Ended(*r);
    }
}

void CClientRows::Update(Row& row, RowState state) { m_window.UpdateRow(row.handle, row.texts, state); }

// The row's last words, unless it completed already; then out of service.
void CClientRows::Ended(Row& row) {
    const CClientTransfer& t = *row.transfer;
    QString text;
    switch (t.Result()) {
    case CClientTransfer::Outcome::None:
    case CClientTransfer::Outcome::Done: break;
    case CClientTransfer::Outcome::NoAnswer: {
        const QString why = m_hooks.whyUnanswered ? m_hooks.whyUnanswered(t.Request().server) : QString();
        text = why.isEmpty() ? kNotAnswering : kNotAnswering + QStringLiteral(": ") + why;
        break;
    }
    case CClientTransfer::Outcome::NotResponding: text = kNotAnswering; break;
    case CClientTransfer::Outcome::ServerError:
        text = QStringLiteral("Error %1 from the device").arg(t.ServerCode()) +
               (t.ServerText().isEmpty() ? QString() : QStringLiteral(": ") + t.ServerText());
        break;
    case CClientTransfer::Outcome::Failed: text = QStringLiteral("Error: ") + t.FailureText(); break;
    case CClientTransfer::Outcome::Aborted:
        text = m_bClosing ? QStringLiteral("Ended with the program") : QStringLiteral("User aborts!!");
        break;
    }
    if (!text.isEmpty() && row.texts.info != text) {
        row.texts.info = text;
        Update(row, ROW_FAILED);
        if (!m_bClosing)
            m_hooks.playSound(SOUND_FAILED);
    }
    const auto at = std::find_if(m_rows.begin(), m_rows.end(),
                                 [&row](const auto& r) { return r.get() == &row; });
    if (at != m_rows.end()) {
        m_retired.push_back(std::move(*at));
        m_rows.erase(at);
    }
}

bool CClientRows::OnTimer(int id) {
    if (id < kFirstTimerId)
        return false;
    FreeRetired();
    for (const auto& row : m_rows) {
        if (row->timerId == id) {
            row->transfer->OnTimer();
            return true;
        }
    }
    m_platform.timers().stop(id);
    return true;
}

bool CClientRows::AbortRow(RowHandle handle) {
    FreeRetired();
    for (const auto& row : m_rows) {
        if (row->handle == handle && row->transfer->Result() == CClientTransfer::Outcome::None) {
            row->transfer->Abort();
            return true;
        }
    }
    return false;
}

void CClientRows::AbortAll() {
    FreeRetired();
    std::vector<CClientTransfer*> running;
    for (const auto& row : m_rows)
        if (row->transfer->Result() == CClientTransfer::Outcome::None)
            running.push_back(row->transfer.get());
    for (CClientTransfer* t : running)
        t->Abort();
}

void CClientRows::Close() {
    m_bClosing = true;
    AbortAll();
    Discard();
}

int CClientRows::Running() const {
    int n = 0;
    for (const auto& row : m_rows)
        n += !row->transfer || row->transfer->Result() == CClientTransfer::Outcome::None;
    return n;
}

void CClientRows::Discard() {
    for (const auto& row : m_rows)
        row->transfer->Discard();
    m_rows.clear();
    m_retired.clear();
}

void CClientRows::FreeRetired() { m_retired.clear(); }
