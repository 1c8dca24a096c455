// Runs a fuzz target without libFuzzer, so that the regular and the sanitizer builds
// (g++) exercise it in CTest: the built-in seeds, every input in the folders given as
// arguments (a target's seeds, saved regressions), then a bounded number of inputs made by mutating the
// seeds with a fixed pseudo-random sequence (the same inputs on every run).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
using Input = std::vector<uint8_t>;

Input bytes(const char* text, size_t size) {
    return Input(reinterpret_cast<const uint8_t*>(text),
                 reinterpret_cast<const uint8_t*>(text) + size);
}

Input mutate(const Input& seed, QRandomGenerator& rng) {
    Input out = seed;
    const int edits = 1 + int(rng.bounded(8));
    for (int e = 0; e < edits; ++e) {
        switch (rng.bounded(5)) {
        case 0: // change a byte
            if (!out.empty())
                out[rng.bounded(quint32(out.size()))] = uint8_t(rng.bounded(256));
            break;
        case 1: // insert a byte
            out.insert(out.begin() + rng.bounded(quint32(out.size() + 1)), uint8_t(rng.bounded(256)));
            break;
        case 2: // cut the tail
            if (!out.empty())
                out.resize(rng.bounded(quint32(out.size())));
            break;
        case 3: // repeat a piece
            if (!out.empty() && out.size() < 1100) {
                const size_t from = rng.bounded(quint32(out.size()));
                const Input piece(out.begin() + from, out.end());
                out.insert(out.end(), piece.begin(), piece.end());
            }
            break;
        default: // small numbers where block numbers and codes live
            if (out.size() > 2)
                out[rng.bounded(quint32(out.size()))] = uint8_t(rng.bounded(4));
            break;
        }
    }
    return out;
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::vector<Input> seeds = {
        bytes("\x00\x00\x01" "f.bin\x00octet\x00", 15),
        bytes("\x04\x00\x02" "u.bin\x00netascii\x00" "blksize\x00" "1428\x00", 31),
        bytes("\x00\x03\x00\x03\x00\x03\x00\x04\x00\x00\x00", 11),
        bytes("\x01\x00\x01\x00\x01\x01\x02\x00\x02\x03\x04\x05\x06\x07", 14),
    };
    int regressions = 0;
    for (int a = 1; a < argc; ++a) {
        const QDir dir(QString::fromLocal8Bit(argv[a]));
        for (const QString& name : dir.entryList(QDir::Files)) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QByteArray b = f.readAll();
            seeds.push_back(bytes(b.constData(), size_t(b.size())));
            ++regressions;
        }
    }
    for (const Input& seed : seeds)
        LLVMFuzzerTestOneInput(seed.data(), seed.size());

    const int generated = qEnvironmentVariableIntValue("FUZZ_REPLAY_COUNT") > 0
                              ? qEnvironmentVariableIntValue("FUZZ_REPLAY_COUNT")
                              : 10000;
    QRandomGenerator rng(20261208);
    for (int i = 0; i < generated; ++i) {
        const Input input = mutate(seeds[rng.bounded(quint32(seeds.size()))], rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu seeds (%d from files) and %d generated inputs: no fault\n",
                seeds.size(), regressions, generated);
    return 0;
}
