#include "HeadlessWindow.h"

#include <cstdio>

CHeadlessWindow::CHeadlessWindow() : m_out(stdout) {}

QString CHeadlessWindow::StateName(RowState state) {
    switch (state) {
    case ROW_FAILED: return QStringLiteral("FAILED");
    case ROW_RECEIVED: return QStringLiteral("RECEIVED");
    case ROW_SENT: return QStringLiteral("SENT");
    case ROW_ACTIVE: break;
    }
    return QStringLiteral("ACTIVE");
}

RowHandle CHeadlessWindow::AddRow(const RowTexts& texts) {
    const RowHandle row = m_nextRow++;
    Print(row, texts, ROW_ACTIVE);
    return row;
}

void CHeadlessWindow::UpdateRow(RowHandle row, const RowTexts& texts, RowState state) {
    Print(row, texts, state);
}

// A client chooses the file name: control characters in it must neither break the
// one-line-per-change format (a newline or tab could forge a row) nor reach a terminal.
QString CHeadlessWindow::Escaped(const QString& field) {
    QString out;
    out.reserve(field.size());
    for (const QChar c : field) {
        const char16_t u = c.unicode();
        if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\t')
            out += QLatin1String("\\t");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void CHeadlessWindow::Print(RowHandle row, const RowTexts& texts, RowState state) {
    const QChar tab = QLatin1Char('\t');
    m_out << "row" << tab << row << tab << StateName(state) << tab << Escaped(texts.client)
          << tab << Escaped(texts.file) << tab << Escaped(texts.size) << tab
          << Escaped(texts.service) << tab << Escaped(texts.info) << Qt::endl;
}

void CHeadlessWindow::ShowMessage(const QString& text) {
    QString flat = text;
    flat.replace(QLatin1String("\n\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QTextStream(stderr) << "message: " << flat << Qt::endl;
}
