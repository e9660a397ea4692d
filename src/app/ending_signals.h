#pragma once

// SIGTERM, SIGINT and SIGHUP (log-out, kill, Ctrl+C, a closed terminal) end
// the program the way closing its last window does: the handler only writes
// the signal's number into a pipe, and the window thread, watching the
// pipe, asks the message loop to end, after which the usual clean-up runs.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace qinghe {

class EndingSignals : public QObject {
    Q_OBJECT

public:
    // end runs on the window thread, once per signal that arrives.
    explicit EndingSignals(std::function<void()> end, QObject* parent = nullptr);
    // Puts the handlers that were there before back.
    ~EndingSignals() override;
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

    // False when no pipe could be had: the signals then end the program as
    // they would without it.
    bool watching() const { return notifier_ != nullptr; }

private:
    void readPipe();

    std::function<void()> end_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace qinghe
