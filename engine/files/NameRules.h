#pragma once

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>

// A name with a control character (below 0x20, or DEL) is no file anyone asks for: a
// NUL cuts it short, a line end or an escape turns it into a command or a terminal's
// instruction wherever it is written. TFTP and HTTP refuse such names alike.
bool HasControlCharacter(const QByteArray& name);

// Rewrite rules for requested names, in the syntax of tftpd-hpa's remap file: one rule a
// line, "FLAGS REGEX [REPLACEMENT]", '#' to the end of a line a comment. Flags: r
// replace the match, g every match, i ignore case, e stop after this rule when it
// matched. In the replacement \0 is the whole match, \1..\9 its groups, \i the client's
// address and \x that address in hex. Names are handled as their bytes (Latin-1), so a
// name comes back unchanged when no rule touches it.
class CNameRules {
public:
    // Reads the rules from `file` when it (or its modification time) changed since the
    // last look; looks at most once a second (nowMs is a monotonic clock). Returns a
    // report of lines skipped, once per reading of the file; empty otherwise.
    QString Refresh(const QString& file, qint64 nowMs);
    // Reads rules from text; returns the lines skipped, one "line N: why" each.
    QStringList Parse(const QByteArray& text);

    bool IsEmpty() const { return m_rules.isEmpty(); }
    QByteArray Apply(const QByteArray& name, const QString& clientAddress) const;

private:
    struct Rule {
        QRegularExpression regex;
        QString replacement;
        bool replace = false, global = false, stop = false;
    };
    QList<Rule> m_rules;
    QString m_file;
    qint64 m_lastLook = -1;
    qint64 m_seenModified = -2;
};
