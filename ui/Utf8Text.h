#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Appends the text as QString::toUtf8() makes it, straight into the buffer: no QString
// nor QByteArray made per field, the buffer's room kept from one line to the next.
// Nearly every text is ASCII, copied a byte a character; any other goes through
// toUtf8() itself, so that what an unpaired surrogate becomes stays what it was.
inline void AppendUtf8(QByteArray& out, QStringView text) {
    const char16_t* const from = text.utf16();
    const qsizetype n = text.size();
    char16_t any = 0; // every character's bits: the loops stay free of branches
    for (qsizetype i = 0; i < n; ++i)
        any |= from[i];
    if (any >= 0x80) {
        out += text.toUtf8();
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + n);
    char* const to = out.data() + at;
    for (qsizetype i = 0; i < n; ++i)
        to[i] = char(from[i]);
}
