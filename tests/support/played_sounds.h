#pragma once

// What the sound engine started and stopped while a test runs, as lines a
// test can filter: "open <file>" and "play <voice>" for each sound that
// starts, "stop <voice>" for each that is stopped.

#include "media/engine/sound_engine.h"
#include "media/player/media_path.h"

#include <QObject>
#include <QStringList>

namespace qinghe::test {

class PlayedSounds : public QObject {
public:
    PlayedSounds()
    {
        SoundEngine& engine = SoundEngine::instance();
        connect(&engine, &SoundEngine::voiceStarted, this, [this](VoiceId voice, const QString& path) {
            lines << QStringLiteral("open ") + path << QStringLiteral("play %1").arg(voice);
        });
        connect(&engine, &SoundEngine::voiceEnded, this, [this](VoiceId voice, VoiceEnd end) {
            if (end == VoiceEnd::Stopped)
                lines << QStringLiteral("stop %1").arg(voice);
        });
    }

    QStringList lines;
};

// The file the board plays for one of its effects ("data\\name").
inline QString effectFile(const char* name)
{
    return resolveMediaFile(Text("data\\") + name);
}

}  // namespace qinghe::test
