#include "engine/tftp/Options.h"

#include <algorithm>

namespace Tftp {

namespace {
struct Asked {
    const QByteArray& name;
    const QByteArray& value;
    qint64 n; // the value as a number
};

// Each option's rule: what it takes, and its entry in `out.oack` when it is answered.
using Rule = void (*)(const Asked&, const OptionLimits&, quint16 opcode, qint64 fileSize,
                      Negotiated& out);

void blockSize(const Asked& a, const OptionLimits& limits, quint16, qint64, Negotiated& out) {
    if (a.n < kMinBlockSize)
        return;
    // Never below the plain 512 for the family's sake: a small limit is taken as it is.
    const int limit = limits.ipv6
                          ? std::min(limits.maxBlockSize,
                                     std::max(kBlockSize, limits.maxBlockSize - kIPv6HeaderExtra))
                          : limits.maxBlockSize;
    out.blockSize = int(std::min<qint64>({a.n, qint64(kMaxBlockSize), qint64(limit)}));
    out.oack.append({a.name, QByteArray::number(out.blockSize)});
}

void windowSize(const Asked& a, const OptionLimits& limits, quint16, qint64, Negotiated& out) {
    if (a.n < 1 || a.n > kMaxWindowSize)
        return;
    out.windowSize =
        int(std::min<qint64>({a.n, qint64(limits.maxWindowSize), qint64(kMaxUsableWindow)}));
    out.oack.append({a.name, QByteArray::number(out.windowSize)});
}

// Answered as the client wrote it: the value is the client's, not ours to reword.
void timeOut(const Asked& a, const OptionLimits&, quint16, qint64, Negotiated& out) {
    if (a.n < kMinTimeOut || a.n > kMaxTimeOut)
        return;
    out.timeOut = int(a.n);
    out.oack.append({a.name, a.value});
}

// A read is told the size; a write tells it, and the answer repeats it.
void transferSize(const Asked& a, const OptionLimits&, quint16 opcode, qint64 fileSize,
                  Negotiated& out) {
    if (a.n < 0)
        return;
    if (opcode == RRQ) {
        if (fileSize < 0)
            return;
        out.sizeTold = true;
        out.oack.append({a.name, QByteArray::number(fileSize)});
        return;
    }
    out.clientSize = a.n;
    out.oack.append({a.name, a.value});
}

const struct {
    const char* name;
    Rule rule;
} kRules[] = {
    {"blksize", blockSize},
    {"windowsize", windowSize},
    {"timeout", timeOut},
    {"tsize", transferSize},
};
} // namespace

Negotiated Negotiate(const OptionList& asked, const OptionLimits& limits, quint16 opcode,
                     qint64 fileSize) {
    Negotiated out;
    if (!limits.negotiate)
        return out;
    for (const auto& [name, value] : asked) {
        bool ok = false;
        const qint64 n = value.toLongLong(&ok);
        if (!ok)
            continue;
        for (const auto& r : kRules)
            if (name == r.name) {
                r.rule({name, value, n}, limits, opcode, fileSize, out);
                break;
            }
    }
    return out;
}

} // namespace Tftp
