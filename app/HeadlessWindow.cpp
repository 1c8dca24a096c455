#include "HeadlessWindow.h"

#include "engine/tftp/TftpPacket.h"
#include "ui/Utf8Text.h"

#include <QSocketNotifier>
#include <cerrno>
#include <charconv>
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

void CLineOutput::NoteDropped() {
    if (m_nDropped > 0 && m_buffer.size() < m_limit / 2) {
        m_buffer += "dropped " + QByteArray::number(m_nDropped) + " lines: the output was not read\n";
        m_nDropped = 0;
    }
}

// Made in the buffer itself and taken back when it does not fit: no copy of the line.
void CLineOutput::Keep(qsizetype at) {
    if (m_buffer.size() > m_limit) {
        m_buffer.truncate(at);
        ++m_nDropped;
    }
    if (m_nHeld == 0)
        Flush();
}

void CLineOutput::WriteLine(const QString& line) {
    NoteDropped();
    const qsizetype at = m_buffer.size();
    AppendUtf8(m_buffer, line);
    m_buffer += '\n';
    Keep(at);
}

void CLineOutput::WriteLine(QByteArrayView line) {
    NoteDropped();
    const qsizetype at = m_buffer.size();
    m_buffer += line;
    m_buffer += '\n';
    Keep(at);
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

// One buffer, its room kept, the fields' UTF-8 written straight into it: a burst of
// small files makes no string per field nor per line.
void CHeadlessWindow::Print(RowHandle row, const RowTexts& texts, RowState state) {
    m_line.truncate(0);
    m_line += "row\t";
    char digits[24];
    const auto made = std::to_chars(digits, digits + sizeof digits, row);
    m_line.append(digits, made.ptr - digits);
    m_line += '\t';
    AppendUtf8(m_line, RowStateName(state));
    for (const QString* field : {&texts.client, &texts.file, &texts.size, &texts.service, &texts.info}) {
        m_line += '\t';
        AppendUtf8(m_line, Escaped(*field));
    }
    m_out.WriteLine(QByteArrayView(m_line));
}

void CHeadlessWindow::ShowMessage(const QString& text) {
    QString flat = text;
    flat.replace(QLatin1String("\n\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_err.WriteLine(QStringLiteral("message: ") + flat);
}
