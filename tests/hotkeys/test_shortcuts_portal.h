#pragma once

// A shortcuts portal of the test's own: org.freedesktop.portal.GlobalShortcuts
// version 1 with its Request and Session objects, served on a connection of
// its own to the test's bus. The test plays the desktop: it picks the
// triggers and presses the shortcuts.

#include "hotkeys/portal_shortcuts.h"

#include <QDBusVirtualObject>
#include <QHash>

class TestShortcutsPortal : public QDBusVirtualObject {
public:
    TestShortcutsPortal();
    ~TestShortcutsPortal() override;
    // Activated, then Deactivated.
    void press(const QString& session, const QString& id);
    // ShortcutsChanged, as when the host rebinds it in the desktop's own settings.
    void retrigger(const QString& session, const QString& id, const QString& trigger);

    bool published = false;
    QHash<QString, QString> desktopChoice;  // id -> the trigger the desktop takes instead of the preferred one
    uint bindResponse = 0;                  // 1: the host closed the desktop's dialog
    QStringList sessions;
    QStringList closedSessions;
    qinghe::PortalShortcutList lastBound;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection&) override;

private:
    QString callerPath(const QDBusMessage& call, const char* kind, const QVariant& token) const;
    // Replies with a Request object, whose Response follows on the next turn of the loop.
    void answer(const QDBusMessage& call, const QVariantMap& options, uint response, const QVariantMap& results);
    void emitSignal(const char* name, const QVariantList& arguments);

    QDBusConnection bus_;
    QStringList requests_;
    QHash<QString, qinghe::PortalShortcutList> bound_;  // session -> its shortcuts with their triggers
};
