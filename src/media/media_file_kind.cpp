#include "media_file_kind.h"

#include <array>

namespace qinghe {

namespace {

// The extension is cut to this many bytes before it is looked up.
constexpr std::size_t kExtensionLength = 3;

struct DeviceTypeRow {
    std::string_view extension;
    std::string_view deviceType;
};

// Looked up in this order; the first match wins.
constexpr std::array kDeviceTypes = {
    DeviceTypeRow{"avi", "avivideo"},   DeviceTypeRow{"wav", "waveaudio"},
    DeviceTypeRow{"cda", "cdaudio"},    DeviceTypeRow{"rm", "MPEGvideo"},
    DeviceTypeRow{"ra", "MPEGvideo"},   DeviceTypeRow{"mp3", "MPEGvideo"},
    DeviceTypeRow{"ram", "MPEGvideo"},  DeviceTypeRow{"mid", "Sequencer"},
    DeviceTypeRow{"rmi", "Sequencer"},  DeviceTypeRow{"idi", "Sequencer"},
    DeviceTypeRow{"asf", "MPEGvideo2"}, DeviceTypeRow{"wma", "MPEGvideo2"},
    DeviceTypeRow{"asx", "MPEGvideo2"}, DeviceTypeRow{"ivf", "MPEGvideo2"},
    DeviceTypeRow{"lsf", "MPEGvideo2"}, DeviceTypeRow{"lsx", "MPEGvideo2"},
    DeviceTypeRow{"p2v", "MPEGvideo2"}, DeviceTypeRow{"wax", "MPEGvideo2"},
    DeviceTypeRow{"wvx", "MPEGvideo2"}, DeviceTypeRow{"wmx", "MPEGvideo2"},
    DeviceTypeRow{"wmp", "MPEGvideo2"},
};
constexpr std::string_view kDefaultDeviceType = "MPEGvideo";

constexpr std::array<std::string_view, 4> kAudioOnlyExtensions = {"mp3", "wav", "cda", "mid"};

}  // namespace

Text mediaExtension(std::string_view fileName)
{
    const std::size_t dot = fileName.rfind('.');
    // A second byte may look like a letter; it is not one.
    return toLowerAsciiText(dot == std::string_view::npos ? fileName.substr(0, kExtensionLength)
                                                         : fileName.substr(dot + 1, kExtensionLength));
}

Text deviceTypeForExtension(std::string_view extension)
{
    for (const DeviceTypeRow& row : kDeviceTypes) {
        if (row.extension == extension)
            return Text(row.deviceType);
    }
    return Text(kDefaultDeviceType);
}

bool extensionHasVideo(std::string_view extension)
{
    for (const std::string_view audio : kAudioOnlyExtensions) {
        if (audio == extension)
            return false;
    }
    return true;
}

}  // namespace qinghe
