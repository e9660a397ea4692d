#pragma once

// Global shortcuts on a Wayland desktop: there no program sees keys meant
// for another window, so the board asks the desktop's shortcuts portal
// (org.freedesktop.portal.GlobalShortcuts) to bind them and tell it when one
// is pressed. Qt Core and D-Bus only; every wait is an answer on the bus
// that arrives on the window thread's loop.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusMessage;

namespace qinghe {

inline constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
inline constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
inline constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
inline constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";

// One shortcut as the portal carries it, (sa{sv}): its id and its
// properties ("description", "preferred_trigger" asked; "trigger_description" answered).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);
// Makes the list known to Qt's D-Bus marshalling; safe to call more than once.
void registerPortalShortcutTypes();

enum class PortalState {
    Idle,         // nothing asked yet
    Asking,       // a question to the portal is on its way
    Unavailable,  // no portal on the bus, or it offers no global shortcuts
    Bound,        // the session is open and the desktop answered with its triggers
    Refused,      // the portal answered, but made no session or bound no shortcut
    Closed,       // the session ended, by the program or by the desktop
};

// The program's one session with the shortcuts portal.
class PortalShortcuts : public QObject {
    Q_OBJECT

public:
    explicit PortalShortcuts(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
    // Closes the session, so the desktop lets the keys go.
    ~PortalShortcuts() override;

    // Asks for these shortcuts, each with its description and the trigger the
    // program proposes. A session binds once, so a new list makes a new session;
    // lists given while the portal is still answering are merged into one request.
    void bind(PortalShortcutList wanted);
    // Ends the session and any question on its way.
    void close();

    PortalState state() const { return state_; }
    // Why the state is Unavailable or Refused, as the bus or the portal said it.
    QString problem() const { return problem_; }
    // The trigger the desktop reports for an id, in its own words; empty: none.
    QString triggerOf(const QString& id) const;
    QString sessionHandle() const { return session_; }

signals:
    void stateChanged();
    void triggersChanged();
    void activated(const QString& id);

private slots:
    void requestAnswered(const QDBusMessage& message);
    void shortcutActivated(const QDBusMessage& message);
    void shortcutsChanged(const QDBusMessage& message);
    void sessionClosed(const QDBusMessage& message);

private:
    enum class Step { None, Version, CreateSession, Bind, List };

    void startNext();
    void askVersion();
    void createSession();
    void bindShortcuts();
    void listShortcuts();
    // Calls a portal method whose answer comes as a Response on a request object.
    void callWithRequest(Step step, const QString& method, QVariantList arguments, QVariantMap options);
    void watchRequest(const QString& path);
    void unwatchRequest();
    void callFailed(const QString& why);
    void sessionAnswer(uint response, const QVariantMap& results);
    void shortcutsAnswer(uint response, const QVariantMap& results);
    void takeTriggers(const PortalShortcutList& shortcuts);
    void closeSession();
    void setState(PortalState state, const QString& problem = {});
    QString newToken();

    QDBusConnection bus_;
    PortalState state_ = PortalState::Idle;
    QString problem_;
    Step step_ = Step::None;
    // Answers to questions asked before the last close() are passed over.
    int generation_ = 0;
    QString portalOwner_;  // the bus name of the portal that answered; empty: not asked yet
    QString request_;      // the request object whose Response is awaited
    QString session_;      // the open session; empty: none
    PortalShortcutList wanted_;
    bool rebindWanted_ = false;  // a list came while the portal was answering
    PortalShortcutList triggers_;
};

}  // namespace qinghe

Q_DECLARE_METATYPE(qinghe::PortalShortcut)
