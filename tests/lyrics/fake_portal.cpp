#include "fake_portal.h"

#include "text/gbk.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <cctype>

namespace {

constexpr const char* kSearchPath = "/portal_v2/static/search_result.html?";
constexpr const char* kLyricsPath = "/miniportal/player_lyrics.htm?";
constexpr const char* kQueryKey = "search_input=";
constexpr const char* kSongKey = "songid=";
constexpr const char* kPageType = "text/html; charset=GBK";
constexpr const char* kEndOfHead = "\r\n\r\n";
// Hex digits after a '%'.
constexpr int kEscapeDigits = 2;
constexpr int kHexBase = 16;
// An endless page comes at about 3 MB a second: large enough to keep a
// browser busy, small enough that a test of some seconds stays light.
constexpr int kEndlessChunkBytes = 64 * 1024;
constexpr int kEndlessIntervalMs = 20;
// More than this still waiting to go out: the browser is not reading.
constexpr qint64 kEndlessBacklogBytes = 4 * kEndlessChunkBytes;
constexpr const char* kEndlessMark = "qinghe_endless_page";

QByteArray gbk(const QString& text)
{
    return QByteArray::fromStdString(qinghe::fromQString(text));
}

QString fromGbk(const QByteArray& bytes)
{
    return qinghe::toQString(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// The value of key in the query of target, up to the next '&'.
QByteArray queryValue(const QByteArray& target, const char* key)
{
    const qsizetype at = target.indexOf(key);
    if (at < 0)
        return {};
    const qsizetype from = at + qstrlen(key);
    const qsizetype end = target.indexOf('&', from);
    return target.mid(from, end < 0 ? -1 : end - from);
}

QByteArray page(const QString& title, const QString& body)
{
    return gbk(QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
                              "<title>%1</title></head><body>%2</body></html>")
                   .arg(title, body));
}

}  // namespace

FakePortal::FakePortal()
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
}

bool FakePortal::listen(quint16 port)
{
    server_.close();
    return server_.listen(QHostAddress::LocalHost, port);
}

void FakePortal::addSong(const Song& song)
{
    songs_.append(song);
}

FakePortal::Song FakePortal::sampleSong()
{
    // Lines of our own; the breaks come in each way a page writes them.
    return {"20240817",
            QStringLiteral("青禾"),
            QStringLiteral("青禾之歌"),
            QStringLiteral("<b>青禾之歌</b><br>清晨的风吹过青青禾田<BR>麦克风前轻声道一句早安</br>"
                           "掌声 &amp; 笑声一起响起来</BR>今夜的房间不会冷清<br>")};
}

QString FakePortal::baseAddress() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
}

void FakePortal::forgetRequests()
{
    searchTargets_.clear();
    lyricsTargets_.clear();
}

QByteArray FakePortal::decodeEscapes(const QByteArray& text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QByteArray digits = text.mid(i + 1, kEscapeDigits);
        const bool isEscape = text[i] == '%' && digits.size() == kEscapeDigits &&
                              std::isxdigit(static_cast<unsigned char>(digits[0])) &&
                              std::isxdigit(static_cast<unsigned char>(digits[1]));
        if (isEscape) {
            bytes.append(static_cast<char>(digits.toInt(nullptr, kHexBase)));
            i += kEscapeDigits;
        } else {
            bytes.append(text[i]);
        }
    }
    return bytes;
}

void FakePortal::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
            buffers_.remove(socket);
            if (socket->property(kEndlessMark).toBool())
                ++closedEndlessPages_;
            socket->deleteLater();
        });
    }
}

void FakePortal::answer(QTcpSocket* socket)
{
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    if (!buffer.contains(kEndOfHead))
        return;
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    buffers_.remove(socket);
    const QByteArray target = requestLine.size() > 1 ? requestLine[1] : QByteArray("/");
    QByteArray body;
    if (target.startsWith(kSearchPath)) {
        searchTargets_ << target;
        if (searchSilent_)
            return;
        if (searchEndless_) {
            streamEndlessPage(socket);
            return;
        }
        body = searchPage(target);
    } else if (target.startsWith(kLyricsPath)) {
        lyricsTargets_ << target;
        body = lyricsPage(target);
    } else {
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + QByteArray(kPageType) +
                  "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void FakePortal::streamEndlessPage(QTcpSocket* socket)
{
    socket->setProperty(kEndlessMark, true);
    // Without a length the page ends only when the connection does.
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + QByteArray(kPageType) + "\r\nConnection: close\r\n\r\n" +
                  gbk(QStringLiteral("<html><head><title>歌曲搜索</title></head><body>")));
    const QByteArray line = gbk(QStringLiteral("<p>正在搜索...</p>"));
    const QByteArray chunk = line.repeated(kEndlessChunkBytes / line.size());
    auto* timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [socket, chunk] {
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < kEndlessBacklogBytes)
            socket->write(chunk);
    });
    timer->start(kEndlessIntervalMs);
}

const FakePortal::Song* FakePortal::findSong(const QByteArray& gbkQuery) const
{
    // The query is the singer, a space and the title; any singer finds the title.
    const QString query = fromGbk(gbkQuery);
    for (const Song& song : songs_) {
        if (query.endsWith(QLatin1Char(' ') + song.title))
            return &song;
    }
    return nullptr;
}

QByteArray FakePortal::searchPage(const QByteArray& target) const
{
    const Song* song = findSong(decodeEscapes(queryValue(target, kQueryKey)));
    const QString row =
        song == nullptr
            ? QStringLiteral("<td>没有找到相关歌曲</td>")
            : QStringLiteral("<td class=\"data\">mid=%1|%2|</td><td>msinger=%3|</td>")
                  .arg(QString::fromLatin1(song->id), song->title, song->singer);
    // The result row comes from the page's script once the page has loaded,
    // as on the real portal.
    return page(QStringLiteral("歌曲搜索"),
                QStringLiteral("<table id=\"results\"><tr><td>正在搜索...</td></tr></table>"
                               "<script>window.addEventListener('load', function () {"
                               " setTimeout(function () {"
                               " document.getElementById('results').rows[0].innerHTML = '%1';"
                               " }, %2); });</script>")
                    .arg(row)
                    .arg(resultDelayMs_));
}

QByteArray FakePortal::lyricsPage(const QByteArray& target) const
{
    const QByteArray id = queryValue(target, kSongKey);
    for (const Song& song : songs_) {
        if (song.id == id)
            return page(song.title,
                        QStringLiteral("<div class=\"player\"><p id=\"lyrics\">%1</p></div>").arg(song.lyricsMarkup));
    }
    return page(QStringLiteral("歌词"), QStringLiteral("<p>没有这首歌的歌词</p>"));
}
