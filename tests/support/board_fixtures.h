#pragma once

// Fixtures that the board's window tests share: sound files of a known
// level, drops of files on a widget, and the board's buttons by their
// catalogue entry or slot.

#include "board/sound_catalogue.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <utility>

namespace qinghe::test_support {

// Every test sound is at the board's output rate, so samples compare 1:1.
inline constexpr int kWavRate = 44100;

// A stereo 16-bit file of that many frames, framesAt(frame) giving the
// left and right samples; false when it cannot be written.
template <typename FrameAt>
[[nodiscard]] bool writeStereoWav(const QString& path, int frames, FrameAt frameAt)
{
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
        const auto [left, right] = frameAt(i);
        out << qint16(left) << qint16(right);
    }
    return out.status() == QDataStream::Ok && file.flush();
}

// The same with sampleAt(frame) on both channels.
template <typename SampleAt>
[[nodiscard]] bool writeWav(const QString& path, int frames, SampleAt sampleAt)
{
    return writeStereoWav(path, frames, [&sampleAt](int frame) {
        const auto sample = sampleAt(frame);
        return std::pair{sample, sample};
    });
}

// Half-periods of 50 frames: a tone any decoder gives back sample for sample.
inline constexpr int kSquareHalfPeriod = 50;

// A stereo 16-bit square wave of the given peak; false when it cannot be written.
[[nodiscard]] inline bool writeSquareWav(const QString& path, int seconds, int amplitude)
{
    return writeWav(path, seconds * kWavRate,
                    [amplitude](int i) { return (i / kSquareHalfPeriod) % 2 ? amplitude : -amplitude; });
}

// Drags what mime holds onto the widget and drops it there, as a file
// manager does; whether the widget took the drag.
inline bool dragAndDrop(QWidget* target, const QMimeData& mime)
{
    const QPoint centre = target->rect().center();
    constexpr Qt::DropActions kOffered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(centre, kOffered, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(centre), kOffered, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return true;
}

// Drop data of files or addresses, as a file manager or a browser gives it.
inline std::unique_ptr<QMimeData> droppedUrls(const QList<QUrl>& urls)
{
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls(urls);
    return mime;
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
