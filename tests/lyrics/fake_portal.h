#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A small music portal of ours on 127.0.0.1 for the lyrics search's tests,
// bench and demos. It serves, in GBK, a search page whose script writes its
// result row after the page has loaded ("<td class=data>mid=...|..." and
// "msinger=...|"), and a lyrics page with "<p id=lyrics>...</p>". It keeps
// every request target exactly as it arrived. Lives on its thread's event loop.
class FakePortal : public QObject {
public:
    // A song the portal knows; texts in UTF-8, served as GBK.
    struct Song {
        QByteArray id;
        QString singer;
        QString title;
        QString lyricsMarkup;  // what stands inside the lyrics paragraph
    };

    FakePortal();

    void addSong(const Song& song);
    // A song with lyrics of our own, under the window's sample title and singer.
    static Song sampleSong();

    // How long the search page's script waits after the load before it writes the result row.
    void setResultDelayMs(int milliseconds) { resultDelayMs_ = milliseconds; }
    // Search pages never answer: the page never completes.
    void setSearchSilent(bool silent) { searchSilent_ = silent; }
    // Search pages never end: their body streams on, a little at a time, as
    // long as the browser reads it.
    void setSearchEndless(bool endless) { searchEndless_ = endless; }
    // Endless pages whose connection the browser has closed.
    int closedEndlessPages() const { return closedEndlessPages_; }

    QString baseAddress() const;
    quint16 port() const { return server_.serverPort(); }
    bool listen(quint16 port);

    // Request targets ("/path?query") of the search page and the lyrics page, as received.
    QList<QByteArray> searchTargets() const { return searchTargets_; }
    QList<QByteArray> lyricsTargets() const { return lyricsTargets_; }
    void forgetRequests();

    // The search query's bytes with every %XX escape made its byte.
    static QByteArray decodeEscapes(const QByteArray& text);

private:
    void accept();
    void answer(QTcpSocket* socket);
    void streamEndlessPage(QTcpSocket* socket);
    QByteArray searchPage(const QByteArray& target) const;
    QByteArray lyricsPage(const QByteArray& target) const;
    const Song* findSong(const QByteArray& gbkQuery) const;

    QTcpServer server_;
    QList<Song> songs_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QList<QByteArray> searchTargets_;
    QList<QByteArray> lyricsTargets_;
    int resultDelayMs_ = 0;
    bool searchSilent_ = false;
    bool searchEndless_ = false;
    int closedEndlessPages_ = 0;
};
