#include "portal_shortcuts.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QRandomGenerator>

#include <algorithm>

namespace qinghe {
namespace {

constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
// The first version of the interface has everything the board uses.
constexpr uint kLeastVersion = 1;
// Request.Response: 0 done; 1 the host cancelled the desktop's dialog; 2 otherwise ended.
constexpr uint kResponseDone = 0;

QString pathOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QVariantMap mapOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

PortalShortcutList shortcutsOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<PortalShortcutList>(value.value<QDBusArgument>());
    return value.value<PortalShortcutList>();
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void registerPortalShortcutTypes()
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
}

PortalShortcuts::PortalShortcuts(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus))
{
    registerPortalShortcutTypes();
}

PortalShortcuts::~PortalShortcuts()
{
    close();
}

QString PortalShortcuts::triggerOf(const QString& id) const
{
    for (const PortalShortcut& shortcut : triggers_)
        if (shortcut.id == id)
            return shortcut.properties.value(QStringLiteral("trigger_description")).toString();
    return {};
}

void PortalShortcuts::bind(PortalShortcutList wanted)
{
    wanted_ = std::move(wanted);
    if (step_ != Step::None) {
        rebindWanted_ = true;
        return;
    }
    startNext();
}

void PortalShortcuts::startNext()
{
    rebindWanted_ = false;
    if (state_ == PortalState::Unavailable)
        return;
    if (portalOwner_.isEmpty()) {
        askVersion();
        return;
    }
    closeSession();
    createSession();
}

void PortalShortcuts::askVersion()
{
    if (!bus_.isConnected()) {
        setState(PortalState::Unavailable, QStringLiteral("没有会话总线"));
        return;
    }
    step_ = Step::Version;
    setState(PortalState::Asking);
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
                                                      QString::fromLatin1(kPropertiesInterface), QStringLiteral("Get"));
    get.setArguments({QString::fromLatin1(kShortcutsInterface), QStringLiteral("version")});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
    const int generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != generation_)
            return;
        step_ = Step::None;
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (reply.isError()) {
            setState(PortalState::Unavailable, reply.error().message());
            return;
        }
        if (reply.value().variant().toUInt() < kLeastVersion) {
            setState(PortalState::Unavailable, QStringLiteral("桌面的快捷键门户版本过旧"));
            return;
        }
        // Only the portal that answered may speak for it: its signals are
        // matched by this name rather than by asking the bus who owns the
        // portal's name, which would wait on the window thread.
        portalOwner_ = reply.reply().service();
        const QString portalPath = QString::fromLatin1(kPortalPath);
        const QString shortcuts = QString::fromLatin1(kShortcutsInterface);
        bus_.connect(QString(), portalPath, shortcuts, QStringLiteral("Activated"), this,
                     SLOT(shortcutActivated(QDBusMessage)));
        bus_.connect(QString(), portalPath, shortcuts, QStringLiteral("ShortcutsChanged"), this,
                     SLOT(shortcutsChanged(QDBusMessage)));
        createSession();
    });
}

QString PortalShortcuts::newToken()
{
    return QStringLiteral("qinghe%1").arg(QRandomGenerator::global()->generate());
}

void PortalShortcuts::createSession()
{
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), newToken());
    callWithRequest(Step::CreateSession, QStringLiteral("CreateSession"), {}, options);
}

void PortalShortcuts::bindShortcuts()
{
    callWithRequest(Step::Bind, QStringLiteral("BindShortcuts"),
                    {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(wanted_), QString()}, {});
}

void PortalShortcuts::listShortcuts()
{
    callWithRequest(Step::List, QStringLiteral("ListShortcuts"), {QVariant::fromValue(QDBusObjectPath(session_))}, {});
}

void PortalShortcuts::callWithRequest(Step step, const QString& method, QVariantList arguments, QVariantMap options)
{
    step_ = step;
    setState(PortalState::Asking);
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    // The portal names the request after the caller and the token; watching
    // that path before the call means an early answer is not missed.
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    watchRequest(QStringLiteral("%1/request/%2/%3").arg(QString::fromLatin1(kPortalPath), sender, token));
    QDBusMessage call = QDBusMessage::createMethodCall(portalOwner_, QString::fromLatin1(kPortalPath),
                                                       QString::fromLatin1(kShortcutsInterface), method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    const int generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != generation_)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            callFailed(reply.error().message());
            return;
        }
        // A portal older than the naming rule answers with a path of its own.
        if (reply.value().path() != request_)
            watchRequest(reply.value().path());
    });
}

void PortalShortcuts::watchRequest(const QString& path)
{
    unwatchRequest();
    request_ = path;
    bus_.connect(QString(), request_, QString::fromLatin1(kRequestInterface), QStringLiteral("Response"), this,
                 SLOT(requestAnswered(QDBusMessage)));
}

void PortalShortcuts::unwatchRequest()
{
    if (request_.isEmpty())
        return;
    bus_.disconnect(QString(), request_, QString::fromLatin1(kRequestInterface), QStringLiteral("Response"), this,
                    SLOT(requestAnswered(QDBusMessage)));
    request_.clear();
}

void PortalShortcuts::callFailed(const QString& why)
{
    unwatchRequest();
    step_ = Step::None;
    setState(PortalState::Refused, why);
    if (rebindWanted_)
        startNext();
}

void PortalShortcuts::requestAnswered(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (message.path() != request_ || message.service() != portalOwner_ || arguments.size() != 2)
        return;
    unwatchRequest();
    const uint response = arguments[0].toUInt();
    const QVariantMap results = mapOf(arguments[1]);
    if (step_ == Step::CreateSession)
        sessionAnswer(response, results);
    else
        shortcutsAnswer(response, results);
}

void PortalShortcuts::sessionAnswer(uint response, const QVariantMap& results)
{
    session_ = response == kResponseDone ? pathOf(results.value(QStringLiteral("session_handle"))) : QString();
    if (session_.isEmpty()) {
        callFailed(QStringLiteral("桌面没有建立快捷键会话（回答 %1）").arg(response));
        return;
    }
    bus_.connect(QString(), session_, QString::fromLatin1(kSessionInterface), QStringLiteral("Closed"), this,
                 SLOT(sessionClosed(QDBusMessage)));
    // A list given while the session was being made goes into this bind.
    rebindWanted_ = false;
    bindShortcuts();
}

void PortalShortcuts::shortcutsAnswer(uint response, const QVariantMap& results)
{
    const QString key = QStringLiteral("shortcuts");
    if (response == kResponseDone && results.contains(key)) {
        triggers_ = shortcutsOf(results.value(key));
        step_ = Step::None;
        setState(PortalState::Bound);
        emit triggersChanged();
    } else if (step_ == Step::Bind) {
        // The host may have closed the desktop's dialog: what the desktop
        // already holds for this program still counts, so ask for it.
        listShortcuts();
        return;
    } else {
        callFailed(QStringLiteral("桌面没有给出快捷键（回答 %1）").arg(response));
        return;
    }
    if (rebindWanted_)
        startNext();
}

void PortalShortcuts::shortcutActivated(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (session_.isEmpty() || message.service() != portalOwner_ || arguments.size() < 2 ||
        pathOf(arguments[0]) != session_)
        return;
    emit activated(arguments[1].toString());
}

void PortalShortcuts::shortcutsChanged(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (session_.isEmpty() || message.service() != portalOwner_ || arguments.size() != 2 ||
        pathOf(arguments[0]) != session_)
        return;
    // Only the shortcuts named changed; the others keep their triggers.
    for (const PortalShortcut& changed : shortcutsOf(arguments[1])) {
        auto same = std::find_if(triggers_.begin(), triggers_.end(),
                                 [&](const PortalShortcut& held) { return held.id == changed.id; });
        if (same != triggers_.end())
            *same = changed;
        else
            triggers_ << changed;
    }
    emit triggersChanged();
}

void PortalShortcuts::sessionClosed(const QDBusMessage& message)
{
    if (message.path() != session_ || message.service() != portalOwner_)
        return;
    bus_.disconnect(QString(), session_, QString::fromLatin1(kSessionInterface), QStringLiteral("Closed"), this,
                    SLOT(sessionClosed(QDBusMessage)));
    session_.clear();
    triggers_.clear();
    setState(PortalState::Closed, QStringLiteral("桌面结束了快捷键会话"));
    emit triggersChanged();
}

void PortalShortcuts::closeSession()
{
    if (session_.isEmpty())
        return;
    bus_.disconnect(QString(), session_, QString::fromLatin1(kSessionInterface), QStringLiteral("Closed"), this,
                    SLOT(sessionClosed(QDBusMessage)));
    // Nothing waits for the answer; the desktop lets the keys go either way.
    bus_.send(QDBusMessage::createMethodCall(portalOwner_, session_, QString::fromLatin1(kSessionInterface),
                                             QStringLiteral("Close")));
    session_.clear();
    triggers_.clear();
}

void PortalShortcuts::close()
{
    ++generation_;
    if (!request_.isEmpty())
        bus_.send(QDBusMessage::createMethodCall(portalOwner_, request_, QString::fromLatin1(kRequestInterface),
                                                 QStringLiteral("Close")));
    unwatchRequest();
    step_ = Step::None;
    rebindWanted_ = false;
    const bool open = !session_.isEmpty();
    closeSession();
    if (open || state_ == PortalState::Asking)
        setState(PortalState::Closed);
}

void PortalShortcuts::setState(PortalState state, const QString& problem)
{
    const bool changed = state != state_ || problem != problem_;
    state_ = state;
    problem_ = problem;
    if (changed)
        emit stateChanged();
}

}  // namespace qinghe
