#include "media_command.h"

#include "media_control.h"

#include <charconv>
#include <vector>

namespace qinghe {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::vector<std::string_view> wordsOf(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i]))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

bool sameKeyword(std::string_view word, std::string_view keyword)
{
    return sameTextIgnoringCase(word, keyword);
}

std::optional<std::int64_t> integerOf(std::string_view word)
{
    if (!word.empty() && word.front() == '+')
        word.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || error != std::errc() || end != word.data() + word.size())
        return std::nullopt;
    return value;
}

// Words after the alias, read one by one.
class Rest {
public:
    Rest(const std::vector<std::string_view>& words) : words_(words) {}
    bool done() const { return next_ >= words_.size(); }
    bool take(std::string_view keyword)
    {
        if (done() || !sameKeyword(words_[next_], keyword))
            return false;
        ++next_;
        return true;
    }
    // kMediaOk with the number, or kMediaBadInteger when it is missing or not a number.
    int takeNumber(std::int64_t& number)
    {
        if (done())
            return kMediaBadInteger;
        const auto value = integerOf(words_[next_]);
        if (!value)
            return kMediaBadInteger;
        ++next_;
        number = *value;
        return kMediaOk;
    }

private:
    const std::vector<std::string_view>& words_;
    std::size_t next_ = 2;  // after the verb and the alias
};

int parsePlay(Rest& rest, MediaCommand& command)
{
    if (rest.take("from")) {
        std::int64_t from = 0;
        if (const int error = rest.takeNumber(from))
            return error;
        command.from = from;
    }
    return rest.done() ? kMediaOk : kMediaUnrecognizedKeyword;
}

int parseSeek(Rest& rest, MediaCommand& command)
{
    if (!rest.take("to"))
        return rest.done() ? kMediaMissingParameter : kMediaUnrecognizedKeyword;
    if (rest.take("start"))
        command.seekTarget = SeekTarget::Start;
    else if (rest.take("end"))
        command.seekTarget = SeekTarget::End;
    else if (const int error = rest.takeNumber(command.number))
        return error;
    else
        command.seekTarget = SeekTarget::Position;
    return rest.done() ? kMediaOk : kMediaUnrecognizedKeyword;
}

int parseSetAudio(Rest& rest, MediaCommand& command)
{
    if (rest.take("left"))
        command.channel = AudioChannel::Left;
    else if (rest.take("right"))
        command.channel = AudioChannel::Right;
    if (!rest.take("volume") || !rest.take("to"))
        return rest.done() ? kMediaMissingParameter : kMediaUnrecognizedKeyword;
    if (const int error = rest.takeNumber(command.number))
        return error;
    return rest.done() ? kMediaOk : kMediaUnrecognizedKeyword;
}

int parseWindow(Rest& rest, MediaCommand& command)
{
    if (!rest.take("handle"))
        return rest.done() ? kMediaMissingParameter : kMediaUnrecognizedKeyword;
    if (const int error = rest.takeNumber(command.number))
        return error;
    return rest.done() ? kMediaOk : kMediaUnrecognizedKeyword;
}

}  // namespace

int parseMediaCommand(std::string_view text, MediaCommand& command)
{
    const std::vector<std::string_view> words = wordsOf(text);
    if (words.empty())
        return kMediaMissingCommandString;
    const std::string_view verb = words[0];
    if (sameKeyword(verb, "close"))
        command.verb = MediaVerb::Close;
    else if (sameKeyword(verb, "window"))
        command.verb = MediaVerb::Window;
    else if (sameKeyword(verb, "play"))
        command.verb = MediaVerb::Play;
    else if (sameKeyword(verb, "stop"))
        command.verb = MediaVerb::Stop;
    else if (sameKeyword(verb, "seek"))
        command.verb = MediaVerb::Seek;
    else if (sameKeyword(verb, "setaudio"))
        command.verb = MediaVerb::SetAudio;
    else
        return kMediaUnrecognizedCommand;
    if (words.size() < 2)
        return kMediaMissingDeviceName;
    command.alias = Text(words[1]);

    Rest rest(words);
    switch (command.verb) {
    case MediaVerb::Play:
        return parsePlay(rest, command);
    case MediaVerb::Seek:
        return parseSeek(rest, command);
    case MediaVerb::SetAudio:
        return parseSetAudio(rest, command);
    case MediaVerb::Window:
        return parseWindow(rest, command);
    case MediaVerb::Close:
    case MediaVerb::Stop:
        break;
    }
    return rest.done() ? kMediaOk : kMediaUnrecognizedKeyword;
}

}  // namespace qinghe
