#pragma once

#include "local_http_server.h"

#include <QMetaObject>
#include <QThread>

#include <memory>

// The local site on a thread of its own, for handlers that read a page on
// the window thread and wait there until it has come.
class ThreadedHttpSite {
public:
    ThreadedHttpSite()
    {
        thread_.start();
        anchor_->moveToThread(&thread_);
        onSiteThread([this] { server_ = new LocalHttpServer; });
    }

    ~ThreadedHttpSite()
    {
        onSiteThread([this] { delete server_; });
        thread_.quit();
        thread_.wait();
        delete anchor_;
    }

    ThreadedHttpSite(const ThreadedHttpSite&) = delete;
    ThreadedHttpSite& operator=(const ThreadedHttpSite&) = delete;

    void setPage(const QByteArray& path, const QByteArray& body, const QByteArray& type = "text/html")
    {
        onSiteThread([&] { server_->setPage(path, body, type); });
    }

    QString hostAndPort() const
    {
        QString answer;
        onSiteThread([&] { answer = server_->hostAndPort(); });
        return answer;
    }

private:
    template <class Work>
    void onSiteThread(Work work) const
    {
        QMetaObject::invokeMethod(anchor_, work, Qt::BlockingQueuedConnection);
    }

    QThread thread_;
    QObject* anchor_ = new QObject;
    LocalHttpServer* server_ = nullptr;
};
