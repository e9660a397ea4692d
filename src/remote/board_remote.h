#pragma once

// The board's remote: the running board serves a few of its actions on the
// session bus under the program's id, and the command line of a second
// start sends one of them and ends. A host binds them to a desktop
// shortcut, a foot pedal or a macro pad. Qt Core and D-Bus only: the board's
// window hands in what each action does.

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QTextStream;

namespace qinghe {

// Where the board answers on the session bus.
inline constexpr const char* kRemoteObjectPath = "/board";
inline constexpr const char* kRemoteInterface = "com.example.qinghe.Board";

// What a remote call does: exactly what the click or the switch does, on
// the window thread. False refuses the call (nothing was done).
struct BoardActions {
    std::function<void(int slot)> playSlot;                   // 1..18
    std::function<bool(const QString& caption)> playEffect;   // a built-in effect by its caption
    std::function<void()> stop;
    std::function<bool(bool on)> setVirtualMicrophone;
};

// The object the bus calls; its methods are the interface, introspectable.
class BoardRemote : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.example.qinghe.Board")

public:
    explicit BoardRemote(BoardActions actions, QObject* parent = nullptr);
    // Gives the name back, so a waiting board takes it over at once.
    ~BoardRemote() override;

    // Offers the object on the session bus and asks for serviceName without
    // waiting; a board that finds the name taken waits in the bus's queue
    // and takes it over when the first board ends. False without a session bus.
    bool publish(const QString& serviceName, QDBusConnection bus = QDBusConnection::sessionBus());

public slots:
    void PlaySlot(int slot);
    void Play(const QString& caption);
    void Stop();
    void SetVirtualMicrophone(bool on);

private:
    void refuse(const QString& why);

    BoardActions actions_;
    QDBusConnection bus_{QString()};
    QString serviceName_;
};

// Exit codes of the command-line remote.
inline constexpr int kRemoteDone = 0;
inline constexpr int kRemoteNoBoard = 1;
inline constexpr int kRemoteBadArgument = 2;

// Whether the arguments (without the program's name) ask for the remote
// rather than a board of its own.
bool isRemoteCommand(const QStringList& arguments);

// Sends the call the arguments name to the board that holds serviceName on
// the session bus; what goes wrong is said on errors. Needs an application
// object, and no window.
int runRemoteCommand(const QStringList& arguments, const QString& serviceName, QTextStream& errors);

}  // namespace qinghe
