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

void CHeadlessWindow::Print(RowHandle row, const RowTexts& texts, RowState state) {
    const QChar tab = QLatin1Char('\t');
    m_out << "row" << tab << row << tab << StateName(state) << tab << texts.client << tab
          << texts.file << tab << texts.size << tab << texts.service << tab << texts.info
          << Qt::endl;
}

void CHeadlessWindow::ShowMessage(const QString& text) {
    QString flat = text;
    flat.replace(QLatin1String("\n\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QTextStream(stderr) << "message: " << flat << Qt::endl;
}
