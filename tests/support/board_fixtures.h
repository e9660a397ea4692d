#pragma once

// Fixtures that the board's window tests share: sound files of a known level
// and the board's buttons by their catalogue entry or slot.

#include "board/sound_catalogue.h"

#include <QDataStream>
#include <QFile>
#include <QString>

namespace qinghe::test_support {

// Every test sound is at the board's output rate, so samples compare 1:1.
inline constexpr int kWavRate = 44100;

// A stereo 16-bit square wave of the given peak; false when it cannot be written.
[[nodiscard]] inline bool writeSquareWav(const QString& path, int seconds, int amplitude)
{
    // Half-periods of 50 frames: a tone any decoder gives back sample for sample.
    constexpr int kHalfPeriod = 50;
    const int frames = seconds * kWavRate;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = quint32(frames) * 4;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(kWavRate) << quint32(kWavRate * 4) << quint16(4)
        << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (int i = 0; i < frames; ++i) {
        const qint16 v = qint16((i / kHalfPeriod) % 2 ? amplitude : -amplitude);
        out << v << v;
    }
    return out.status() == QDataStream::Ok && file.flush();
}

// The object name of a catalogue button.
inline QString buttonName(const BoardButton& entry)
{
    return QString::fromUtf8(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

// The object name of custom slot 1..18's button; empty for any other number.
inline QString slotButtonName(int slot)
{
    for (const BoardButton& entry : boardCatalogue())
        if (entry.slot == slot)
            return buttonName(entry);
    return {};
}

}  // namespace qinghe::test_support
