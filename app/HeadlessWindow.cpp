#include "HeadlessWindow.h"

#include "engine/tftp/TftpPacket.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

CLineOutput::CLineOutput(int fd, qsizetype limit) : m_fd(fd), m_limit(limit) {
    m_oldFlags = ::fcntl(m_fd, F_GETFL);
    if (m_oldFlags >= 0 && !(m_oldFlags & O_NONBLOCK))
        ::fcntl(m_fd, F_SETFL, m_oldFlags | O_NONBLOCK);
}

CLineOutput::~CLineOutput() {
    // What the reader takes now; the rest is lost with the program. Not when the
    // descriptor is blocking again (standard error restored first, sharing it).
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK))
        Flush();
    // The descriptor may be shared with a shell, which expects it as it was.
    if (m_oldFlags >= 0 && !(m_oldFlags & O_NONBLOCK))
        ::fcntl(m_fd, F_SETFL, m_oldFlags);
}

void CLineOutput::WriteLine(const QString& line) {
    if (m_nDropped > 0 && m_buffer.size() < m_limit / 2) {
        const QByteArray note = "dropped " + QByteArray::number(m_nDropped) +
                                " lines: the output was not read\n";
        m_buffer += note;
        m_nDropped = 0;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    if (m_buffer.size() + bytes.size() > m_limit)
        ++m_nDropped;
    else
        m_buffer += bytes;
    if (m_nHeld == 0)
        Flush();
}

void CLineOutput::Release() {
    if (m_nHeld > 0 && --m_nHeld == 0)
        Flush();
}

void CLineOutput::Flush() {
    qsizetype done = 0;
    while (done < m_buffer.size()) {
        const ssize_t n = ::write(m_fd, m_buffer.constData() + done, size_t(m_buffer.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        m_buffer.clear(); // closed or broken: nobody will ever read it
        done = 0;
        break;
    }
    m_buffer.remove(0, done);
    const bool waiting = !m_buffer.isEmpty();
    if (waiting && !m_pNotifier) {
        m_pNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
        connect(m_pNotifier, &QSocketNotifier::activated, this, [this] { Flush(); });
    }
    if (m_pNotifier)
        m_pNotifier->setEnabled(waiting);
}

CHeadlessWindow::CHeadlessWindow() : m_out(STDOUT_FILENO), m_err(STDERR_FILENO) {}

void CHeadlessWindow::AddRow(RowHandle row, const RowTexts& texts) {
    Print(row, texts, ROW_ACTIVE);
}

void CHeadlessWindow::UpdateRow(RowHandle row, const RowTexts& texts, RowState state) {
    Print(row, texts, state);
}

QString CHeadlessWindow::Escaped(const QString& field) { return Tftp::Printable(field); }

void CHeadlessWindow::Print(RowHandle row, const RowTexts& texts, RowState state) {
    const QChar tab = QLatin1Char('\t');
    m_out.WriteLine(QStringLiteral("row") + tab + QString::number(row) + tab + RowStateName(state) +
                    tab + Escaped(texts.client) + tab + Escaped(texts.file) + tab +
                    Escaped(texts.size) + tab + Escaped(texts.service) + tab +
                    Escaped(texts.info));
}

void CHeadlessWindow::ShowMessage(const QString& text) {
    QString flat = text;
    flat.replace(QLatin1String("\n\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_err.WriteLine(QStringLiteral("message: ") + flat);
}
