#include "board_remote.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QTextStream>

namespace qinghe {
namespace {

constexpr int kFirstSlot = 1;
constexpr int kLastSlot = 18;
// Longer than any caption of the board; a longer argument is no caption.
constexpr qsizetype kLongestCaption = 64;
// How long the command line waits for the board's answer: the call only
// starts a sound, so the board answers at once unless it hangs.
constexpr int kCallTimeoutMs = 5000;

constexpr const char* kNoBoardText = "青禾主持人音效辅助工具没有在运行。";
// A board that holds the name but gives no answer in time runs, but hangs.
constexpr const char* kNoAnswerText = "青禾主持人音效辅助工具没有回答。";
constexpr const char* kUsageText =
    "用法：qinghe --play-slot 1到18 | --play \"音效名称\" | --stop | --virtual-mic on|off";

}  // namespace

BoardRemote::BoardRemote(BoardActions actions, QObject* parent) : QObject(parent), actions_(std::move(actions)) {}

BoardRemote::~BoardRemote()
{
    if (serviceName_.isEmpty())
        return;
    bus_.unregisterObject(QString::fromLatin1(kRemoteObjectPath));
    bus_.interface()->unregisterService(serviceName_);
}

bool BoardRemote::publish(const QString& serviceName, QDBusConnection bus)
{
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(QString::fromLatin1(kRemoteObjectPath), this, QDBusConnection::ExportAllSlots))
        return false;
    // A second board queues for the name (no flags: wait in line, never
    // replace); the bus hands it over when the first ends. Asked without
    // waiting for the answer, so the window thread never waits on the bus.
    bus.interface()->asyncCall(QStringLiteral("RequestName"), serviceName, 0u);
    bus_ = bus;
    serviceName_ = serviceName;
    return true;
}

RemoteAnswer remotePlaySlot(const BoardActions& actions, int slot)
{
    if (slot < kFirstSlot || slot > kLastSlot)
        return {false, QStringLiteral("按钮编号须在 1 到 18 之间")};
    return {true, actions.playSlot ? actions.playSlot(slot) : QString()};
}

RemoteAnswer remotePlay(const BoardActions& actions, const QString& caption)
{
    const std::optional<QString> played =
        caption.size() > kLongestCaption || !actions.playEffect ? std::nullopt : actions.playEffect(caption);
    if (!played)
        return {false, QStringLiteral("没有这个音效")};
    return {true, *played};
}

RemoteAnswer remoteStop(const BoardActions& actions)
{
    return {true, actions.stop ? actions.stop() : QString()};
}

RemoteAnswer remoteSetVirtualMicrophone(const BoardActions& actions, bool on)
{
    if (!actions.setVirtualMicrophone)
        return {true, QStringLiteral("无法切换虚拟麦克风")};
    return {true, actions.setVirtualMicrophone(on)};
}

// A wrong call is InvalidArgs, as the bus itself answers wrong arguments;
// a call the board could not carry out is its own error, with the reason.
void BoardRemote::reply(const RemoteAnswer& answer)
{
    if (!calledFromDBus())
        return;
    if (!answer.understood)
        sendErrorReply(QDBusError::InvalidArgs, answer.reason);
    else if (!answer.reason.isEmpty())
        sendErrorReply(QString::fromLatin1(kRemoteNotDoneError), answer.reason);
}

void BoardRemote::PlaySlot(int slot)
{
    reply(remotePlaySlot(actions_, slot));
}

void BoardRemote::Play(const QString& caption)
{
    reply(remotePlay(actions_, caption));
}

void BoardRemote::Stop()
{
    reply(remoteStop(actions_));
}

void BoardRemote::SetVirtualMicrophone(bool on)
{
    reply(remoteSetVirtualMicrophone(actions_, on));
}

bool isRemoteCommand(const QStringList& arguments)
{
    return !arguments.isEmpty() && arguments.first().startsWith(QLatin1String("--"));
}

int runRemoteCommand(const QStringList& arguments, const QString& serviceName, QTextStream& errors)
{
    const auto usage = [&errors] {
        errors << QString::fromUtf8(kUsageText) << '\n';
        return kRemoteBadArgument;
    };
    const QString option = arguments.value(0);
    QString method;
    QVariantList values;
    if (option == QLatin1String("--stop") && arguments.size() == 1) {
        method = QStringLiteral("Stop");
    } else if (option == QLatin1String("--play-slot") && arguments.size() == 2) {
        bool number = false;
        const int slot = arguments[1].toInt(&number);
        if (!number || slot < kFirstSlot || slot > kLastSlot)
            return usage();
        method = QStringLiteral("PlaySlot");
        values << slot;
    } else if (option == QLatin1String("--play") && arguments.size() == 2 && !arguments[1].isEmpty()) {
        method = QStringLiteral("Play");
        values << arguments[1];
    } else if (option == QLatin1String("--virtual-mic") && arguments.size() == 2 &&
               (arguments[1] == QLatin1String("on") || arguments[1] == QLatin1String("off"))) {
        method = QStringLiteral("SetVirtualMicrophone");
        values << (arguments[1] == QLatin1String("on"));
    } else {
        return usage();
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(serviceName).value()) {
        errors << QString::fromUtf8(kNoBoardText) << '\n';
        return kRemoteNoBoard;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, QString::fromLatin1(kRemoteObjectPath),
                                                       QString::fromLatin1(kRemoteInterface), method);
    call.setArguments(values);
    const QDBusMessage answer = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        if (answer.errorName() == QDBusError::errorString(QDBusError::InvalidArgs)) {
            errors << answer.errorMessage() << '\n';
            return kRemoteBadArgument;
        }
        if (answer.errorName() == QLatin1String(kRemoteNotDoneError)) {
            errors << answer.errorMessage() << '\n';
            return kRemotePlayedNothing;
        }
        const bool hung = answer.errorName() == QDBusError::errorString(QDBusError::NoReply)
                          || answer.errorName() == QDBusError::errorString(QDBusError::Timeout);
        errors << QString::fromUtf8(hung ? kNoAnswerText : kNoBoardText) << '\n';
        return kRemoteNoBoard;
    }
    return kRemoteDone;
}

}  // namespace qinghe
