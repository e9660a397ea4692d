#include "test_shortcuts_portal.h"

#include <QCoreApplication>

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTimer>

using namespace qinghe;

namespace {

const QString kConnection = QStringLiteral("test shortcuts portal");

template <typename T>
T argument(const QVariant& value)
{
    return value.canConvert<QDBusArgument>() ? qdbus_cast<T>(value.value<QDBusArgument>()) : value.value<T>();
}

}  // namespace

TestShortcutsPortal::TestShortcutsPortal() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnection))
{
    registerPortalShortcutTypes();
    // The Request and Session objects live below the portal's path.
    published = bus_.registerVirtualObject(QString::fromLatin1(kPortalPath), this, QDBusConnection::SubPath) &&
                bus_.registerService(QString::fromLatin1(kPortalService));
}

TestShortcutsPortal::~TestShortcutsPortal()
{
    // Calls still queued for the portal go while its connection stands: dropped
    // after the disconnect, they would reach into a connection already gone.
    bus_.unregisterService(QString::fromLatin1(kPortalService));
    bus_.unregisterObject(QString::fromLatin1(kPortalPath), QDBusConnection::UnregisterTree);
    QCoreApplication::removePostedEvents(this);
    QDBusConnection::disconnectFromBus(kConnection);
}

bool TestShortcutsPortal::handleMessage(const QDBusMessage& call, const QDBusConnection&)
{
    const QVariantList in = call.arguments();
    const QString member = call.member();
    if (call.path() != QLatin1String(kPortalPath)) {
        if (member != QLatin1String("Close") || !(requests_.removeOne(call.path()) || sessions.contains(call.path())))
            return false;
        if (sessions.contains(call.path()) && !closedSessions.contains(call.path()))
            closedSessions << call.path();
        return bus_.send(call.createReply());
    }
    if (member == QLatin1String("Get"))
        return bus_.send(call.createReply(QVariant::fromValue(QDBusVariant(1u))));
    if (member == QLatin1String("CreateSession")) {
        const QVariantMap options = argument<QVariantMap>(in.value(0));
        sessions << callerPath(call, "session", options.value("session_handle_token"));
        // A string, as the desktop's own portal gives it.
        answer(call, options, 0, {{QStringLiteral("session_handle"), sessions.last()}});
    } else if (member == QLatin1String("BindShortcuts")) {
        lastBound = argument<PortalShortcutList>(in.value(1));
        PortalShortcutList& held = bound_[argument<QDBusObjectPath>(in.value(0)).path()];
        held.clear();
        for (const PortalShortcut& wanted : lastBound)
            held << PortalShortcut{wanted.id, {{"trigger_description", desktopChoice.value(wanted.id, wanted.properties.value("preferred_trigger").toString())}}};
        // A closed dialog answers nothing, yet the desktop keeps what it holds.
        answer(call, argument<QVariantMap>(in.value(3)), bindResponse,
               bindResponse != 0 ? QVariantMap() : QVariantMap{{QStringLiteral("shortcuts"), QVariant::fromValue(held)}});
    } else if (member == QLatin1String("ListShortcuts")) {
        answer(call, argument<QVariantMap>(in.value(1)), 0,
               {{QStringLiteral("shortcuts"), QVariant::fromValue(bound_.value(argument<QDBusObjectPath>(in.value(0)).path()))}});
    } else {
        return false;
    }
    return true;
}

QString TestShortcutsPortal::callerPath(const QDBusMessage& call, const char* kind, const QVariant& token) const
{
    // Named after the caller and the caller's token.
    return QStringLiteral("%1/%2/%3/%4")
        .arg(QLatin1String(kPortalPath), QLatin1String(kind),
             call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')), token.toString());
}

void TestShortcutsPortal::answer(const QDBusMessage& call, const QVariantMap& options, uint response,
                                 const QVariantMap& results)
{
    const QString request = callerPath(call, "request", options.value("handle_token"));
    requests_ << request;
    bus_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    QTimer::singleShot(0, this, [this, request, response, results] {
        if (!requests_.removeOne(request))
            return;  // closed by the program
        QDBusMessage signal = QDBusMessage::createSignal(request, QLatin1String(kRequestInterface), "Response");
        bus_.send(signal << response << results);
    });
}

void TestShortcutsPortal::emitSignal(const char* name, const QVariantList& arguments)
{
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kPortalPath), QLatin1String(kShortcutsInterface), name);
    signal.setArguments(arguments);
    bus_.send(signal);
}

void TestShortcutsPortal::press(const QString& session, const QString& id)
{
    for (const char* name : {"Activated", "Deactivated"})
        emitSignal(name, {QVariant::fromValue(QDBusObjectPath(session)), id, qulonglong(0), QVariantMap()});
}

void TestShortcutsPortal::retrigger(const QString& session, const QString& id, const QString& trigger)
{
    const PortalShortcutList changed{PortalShortcut{id, {{"trigger_description", trigger}}}};
    emitSignal("ShortcutsChanged", {QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(changed)});
}
