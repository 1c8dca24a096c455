#include "engine/files/NameRules.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>

bool HasControlCharacter(const QByteArray& name) {
    for (const char c : name)
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return true;
    return false;
}

QString CNameRules::Refresh(const QString& file, qint64 nowMs) {
    if (file == m_file && m_lastLook >= 0 && nowMs - m_lastLook < 1000)
        return {};
    m_lastLook = nowMs;
    const QFileInfo info(file);
    const qint64 modified =
        file.isEmpty() || !info.exists() ? -1 : info.lastModified().toMSecsSinceEpoch();
    if (file == m_file && modified == m_seenModified)
        return {};
    m_file = file;
    m_seenModified = modified;
    m_rules.clear();
    if (file.isEmpty())
        return {};
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("Name rules %1 cannot be read: %2").arg(file, f.errorString());
    const QStringList bad = Parse(f.read(1 << 20));
    if (bad.isEmpty())
        return {};
    return QStringLiteral("Name rules %1, lines skipped: %2").arg(file, bad.join(QStringLiteral("; ")));
}

QStringList CNameRules::Parse(const QByteArray& text) {
    m_rules.clear();
    QStringList bad;
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        QString line = QString::fromLatin1(lines[n]);
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        const QStringList fields = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        const auto skip = [&](const QString& why) {
            bad.append(QStringLiteral("line %1: %2").arg(n + 1).arg(why));
        };
        Rule rule;
        QRegularExpression::PatternOptions options;
        bool known = true;
        for (QChar c : fields[0]) {
            switch (c.toLatin1()) {
            case 'r': rule.replace = true; break;
            case 'g': rule.global = true; break;
            case 'i': options |= QRegularExpression::CaseInsensitiveOption; break;
            case 'e': rule.stop = true; break;
            default: known = false; break;
            }
        }
        if (!known) {
            skip(QStringLiteral("unknown flags \"%1\"").arg(fields[0]));
            continue;
        }
        if (fields.size() < 2 || fields.size() > 3 || (rule.replace && fields.size() != 3)) {
            skip(QStringLiteral("expected FLAGS REGEX%1").arg(rule.replace ? " REPLACEMENT" : ""));
            continue;
        }
        rule.regex = QRegularExpression(fields[1], options);
        if (!rule.regex.isValid()) {
            skip(rule.regex.errorString());
            continue;
        }
        if (fields.size() == 3)
            rule.replacement = fields[2];
        m_rules.append(rule);
    }
    return bad;
}

namespace {
QString expand(const QString& replacement, const QRegularExpressionMatch& match,
               const QString& address) {
    QString out;
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        if (c != QLatin1Char('\\') || i + 1 == replacement.size()) {
            out += c;
            continue;
        }
        const QChar next = replacement[++i];
        if (next.isDigit())
            out += match.captured(next.digitValue());
        else if (next == QLatin1Char('i'))
            out += address;
        else if (next == QLatin1Char('x')) {
            bool v4 = false;
            const quint32 ip = QHostAddress(address).toIPv4Address(&v4);
            out += v4 ? QStringLiteral("%1").arg(ip, 8, 16, QLatin1Char('0')).toUpper() : address;
        } else
            out += next;
    }
    return out;
}
} // namespace

QByteArray CNameRules::Apply(const QByteArray& name, const QString& clientAddress) const {
    if (m_rules.isEmpty())
        return name;
    QString current = QString::fromLatin1(name);
    for (const Rule& rule : m_rules) {
        bool matched = false;
        if (rule.replace) {
            QString out;
            qsizetype from = 0;
            QRegularExpressionMatchIterator it = rule.regex.globalMatch(current);
            while (it.hasNext()) {
                const QRegularExpressionMatch m = it.next();
                matched = true;
                out += current.mid(from, m.capturedStart() - from);
                out += expand(rule.replacement, m, clientAddress);
                from = m.capturedEnd();
                if (!rule.global)
                    break;
            }
            if (matched)
                current = out + current.mid(from);
        } else {
            matched = rule.regex.match(current).hasMatch();
        }
        if (matched && rule.stop)
            break;
    }
    return current.toLatin1();
}
