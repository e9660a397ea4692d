#include "test_shortcuts_portal.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

using namespace qinghe;

namespace {

const QString kConnectionName = QStringLiteral("test shortcuts portal");
constexpr uint kDone = 0;

}  // namespace

TestShortcutsPortal::TestShortcutsPortal()
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName))
{
    registerPortalShortcutTypes();
    published_ = bus_.registerObject(QString::fromLatin1(kPortalPath), this,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                         QDBusConnection::ExportAllProperties) &&
                 bus_.registerService(QString::fromLatin1(kPortalService));
}

TestShortcutsPortal::~TestShortcutsPortal()
{
    QDBusConnection::disconnectFromBus(kConnectionName);
}

QString TestShortcutsPortal::callerPath(const QString& kind, const QVariantMap& options, const char* token)
{
    // The portal names its objects after the caller and the caller's token.
    return QStringLiteral("%1/%2/%3/%4")
        .arg(QString::fromLatin1(kPortalPath), kind,
             message().service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')),
             options.value(QString::fromLatin1(token)).toString());
}

QDBusObjectPath TestShortcutsPortal::answer(const QVariantMap& options, uint response, const QVariantMap& results)
{
    const QString path = callerPath(QStringLiteral("request"), options, "handle_token");
    auto* request = new TestPortalRequest;
    bus_.registerObject(path, request, QDBusConnection::ExportAllSlots);
    // Sent from this thread, so the answer is on its way before the object goes.
    QTimer::singleShot(0, request, [this, request, path, response, results] {
        QDBusMessage signal =
            QDBusMessage::createSignal(path, QString::fromLatin1(kRequestInterface), QStringLiteral("Response"));
        signal << response << results;
        bus_.send(signal);
        bus_.unregisterObject(path);
        request->deleteLater();
    });
    return QDBusObjectPath(path);
}

QDBusObjectPath TestShortcutsPortal::CreateSession(const QVariantMap& options)
{
    const QString session = callerPath(QStringLiteral("session"), options, "session_handle_token");
    sessions << session;
    auto* object = new TestPortalSession;
    object->setParent(this);
    object->onClose = [this, session, object] {
        closedSessions << session;
        bus_.unregisterObject(session);
        object->deleteLater();
    };
    bus_.registerObject(session, object, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
    // The handle comes as a string, as the desktop's own portal gives it.
    return answer(options, kDone, {{QStringLiteral("session_handle"), session}});
}

QDBusObjectPath TestShortcutsPortal::BindShortcuts(const QDBusObjectPath& session, const QList<PortalShortcut>& shortcuts,
                                                   const QString&, const QVariantMap& options)
{
    lastBound = shortcuts;
    PortalShortcutList held;
    for (const PortalShortcut& wanted : shortcuts) {
        const QString trigger = desktopChoice.value(wanted.id, wanted.properties.value("preferred_trigger").toString());
        held << PortalShortcut{wanted.id,
                               {{QStringLiteral("description"), wanted.properties.value("description")},
                                {QStringLiteral("trigger_description"), trigger}}};
    }
    bound_[session.path()] = held;
    // A host who closes the desktop's dialog leaves the shortcuts it already had.
    if (bindResponse != kDone)
        return answer(options, bindResponse, {});
    return answer(options, kDone, {{QStringLiteral("shortcuts"), QVariant::fromValue(held)}});
}

QDBusObjectPath TestShortcutsPortal::ListShortcuts(const QDBusObjectPath& session, const QVariantMap& options)
{
    return answer(options, kDone, {{QStringLiteral("shortcuts"), QVariant::fromValue(bound_.value(session.path()))}});
}

void TestShortcutsPortal::press(const QString& session, const QString& id)
{
    emit Activated(QDBusObjectPath(session), id, 0, {});
    emit Deactivated(QDBusObjectPath(session), id, 0, {});
}

void TestShortcutsPortal::retrigger(const QString& session, const QString& id, const QString& trigger)
{
    emit ShortcutsChanged(QDBusObjectPath(session), {PortalShortcut{id, {{"trigger_description", trigger}}}});
}
