#pragma once

// A desktop's shortcuts portal of the test's own: version 1 of
// org.freedesktop.portal.GlobalShortcuts with its Request and Session
// objects, on a connection of its own to the test's session bus. The test
// plays the desktop: it picks the triggers and presses the shortcuts.

#include "hotkeys/portal_shortcuts.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QHash>
#include <QObject>

#include <functional>

class TestShortcutsPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    TestShortcutsPortal();
    ~TestShortcutsPortal() override;
    bool published() const { return published_; }
    uint version() const { return 1; }

    // The desktop presses and lets go of a shortcut of a session.
    void press(const QString& session, const QString& id);
    // The host gives a shortcut another trigger in the desktop's own settings.
    void retrigger(const QString& session, const QString& id, const QString& trigger);

    QHash<QString, QString> desktopChoice;  // id -> the trigger the desktop takes instead of the preferred one
    uint bindResponse = 0;                  // 1: the host closed the desktop's dialog
    QStringList sessions;                   // every session made, in order
    QStringList closedSessions;             // those the program closed
    qinghe::PortalShortcutList lastBound;   // what the last BindShortcuts asked for

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<qinghe::PortalShortcut>& shortcuts,
                                  const QString& parentWindow, const QVariantMap& options);
    QDBusObjectPath ListShortcuts(const QDBusObjectPath& session, const QVariantMap& options);

signals:
    void Activated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp, const QVariantMap& options);
    void Deactivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);
    void ShortcutsChanged(const QDBusObjectPath& session, const QList<qinghe::PortalShortcut>& shortcuts);

private:
    QString callerPath(const QString& kind, const QVariantMap& options, const char* token);
    // A Request object, answered with Response on the next turn of the loop.
    QDBusObjectPath answer(const QVariantMap& options, uint response, const QVariantMap& results);

    QDBusConnection bus_;
    bool published_ = false;
    QHash<QString, qinghe::PortalShortcutList> bound_;  // session -> its shortcuts with their triggers
};

// The portal's Request and Session objects, each with its Close.
class TestPortalRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")

public slots:
    void Close() { deleteLater(); }
};

class TestPortalSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

public:
    std::function<void()> onClose;

public slots:
    void Close() { onClose(); }

signals:
    void Closed(const QVariantMap& details);
};
