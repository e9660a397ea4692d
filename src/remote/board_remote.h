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
#include <optional>

class QTextStream;

namespace qinghe {

// Where the board answers on the session bus.
inline constexpr const char* kRemoteObjectPath = "/board";
inline constexpr const char* kRemoteInterface = "com.example.qinghe.Board";

// What a remote call does: exactly what the click or the switch does, on
// the window thread, and never a window or a dialog: a remote answers at
// once. Each gives why nothing was done, or an empty text when it was done.
// The one table every remote goes through.
struct BoardActions {
    std::function<QString(int slot)> playSlot;  // 1..18
    // A built-in effect by its caption; nullopt: the board has no such effect.
    std::function<std::optional<QString>(const QString& caption)> playEffect;
    std::function<QString()> stop;
    std::function<QString(bool on)> setVirtualMicrophone;
};

// What became of a remote call.
struct RemoteAnswer {
    bool understood = true;  // false: the call itself was wrong, and nothing was tried
    QString reason;          // why nothing was done; empty when done
};

// Every remote's way to the board: the call's arguments are checked here, then its action runs.
RemoteAnswer remotePlaySlot(const BoardActions& actions, int slot);
RemoteAnswer remotePlay(const BoardActions& actions, const QString& caption);
RemoteAnswer remoteStop(const BoardActions& actions);
RemoteAnswer remoteSetVirtualMicrophone(const BoardActions& actions, bool on);

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
    // Sends the answer's error back to the caller on the bus, when there is one.
    void reply(const RemoteAnswer& answer);

    BoardActions actions_;
    QDBusConnection bus_{QString()};
    QString serviceName_;
};

// Exit codes of the command-line remote.
inline constexpr int kRemoteDone = 0;
inline constexpr int kRemoteNoBoard = 1;
inline constexpr int kRemoteBadArgument = 2;
// The board runs but did nothing: its reason is on the error output.
inline constexpr int kRemotePlayedNothing = 3;
// The error the board answers with when it did nothing; its message is the reason.
inline constexpr const char* kRemoteNotDoneError = "com.example.qinghe.Board.Error.NotDone";

// Whether the arguments (without the program's name) ask for the remote
// rather than a board of its own.
bool isRemoteCommand(const QStringList& arguments);

// Sends the call the arguments name to the board that holds serviceName on
// the session bus; what goes wrong is said on errors. Needs an application
// object, and no window.
int runRemoteCommand(const QStringList& arguments, const QString& serviceName, QTextStream& errors);

}  // namespace qinghe
