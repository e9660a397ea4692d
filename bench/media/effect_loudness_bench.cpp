// The loudness of the built-in effects, run by hand:
//
//   effect_loudness_bench [FILE...]
//       Measures every file given (by default data/*.mp3 from the current
//       directory) with the loudness meter the custom slots use, and prints
//       each file's integrated loudness and peak, then the median loudness:
//       the figure the custom slots are brought to (kEffectLoudnessLufs).

#include "media/player/loudness_meter.h"
#include "text/gbk.h"

#include <QDir>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

int main(int argc, char* argv[])
{
    QStringList files;
    for (int i = 1; i < argc; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    if (files.isEmpty()) {
        const QDir data(QStringLiteral("data"));
        for (const QString& name : data.entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name))
            files << data.filePath(name);
    }
    const std::atomic<bool> never{false};
    std::vector<double> measured;
    for (const QString& file : files) {
        const auto loudness = qinghe::measureFileLoudness(qinghe::nameFromQString(file), never);
        if (!loudness) {
            std::printf("%-28s not measurable\n", qPrintable(file));
            continue;
        }
        constexpr double kDecibelsPerDecade = 20;
        std::printf("%-28s %7.2f LUFS  peak %6.2f dBFS\n", qPrintable(file), loudness->integratedLufs,
                    kDecibelsPerDecade * std::log10(loudness->peak));
        measured.push_back(loudness->integratedLufs);
    }
    if (measured.empty())
        return 1;
    std::sort(measured.begin(), measured.end());
    const std::size_t middle = measured.size() / 2;
    const double median =
        measured.size() % 2 ? measured[middle] : (measured[middle - 1] + measured[middle]) / 2;
    std::printf("%zu files: median %.2f LUFS, quietest %.2f, loudest %.2f\n", measured.size(), median,
                measured.front(), measured.back());
    return 0;
}
