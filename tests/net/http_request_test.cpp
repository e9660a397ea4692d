#include "net/http.h"

#include "net_test_support.h"
#include "raw_http_server.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <chrono>
#include <string>
#include <thread>

using qinghe::httpRequest;
using qinghe::Text;

namespace {

const std::string kUserAgentLine = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n";
const std::string kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
const std::string kLanguageLine = "Accept-Language: zh-cn\r\n";

// Long enough that a request is surely still waiting when the window's
// first pass comes.
constexpr std::chrono::milliseconds kSlowAnswer{300};

class HttpRequest : public NetTest {};

TEST_F(HttpRequest, GetWithEmptyHeadersSendsExactlyTheThreeDefaultLines)
{
    RawHttpServer server(httpAnswer("当前12人在线"));
    const std::string url = "http://" + server.hostAndPort() + "/tongji/online.asp?from=main";
    Text method;
    Text headers;
    EXPECT_EQ(httpRequest(url, &method, std::nullopt, &headers), "当前12人在线");

    const std::string referer = "Referer: " + url + "\r\n";
    EXPECT_EQ(server.onlyRequest(), "GET /tongji/online.asp?from=main HTTP/1.1\r\n"
                                    "Host: " + server.hostAndPort() + "\r\n" +
                                        kUserAgentLine + kAcceptLine + referer + kLanguageLine + "\r\n");
    // The caller's variables hold what was sent.
    EXPECT_EQ(method, "GET");
    EXPECT_EQ(headers, kAcceptLine + referer + kLanguageLine);
}

TEST_F(HttpRequest, PostWrittenInMixedCaseIsSentAsWrittenWithItsBody)
{
    RawHttpServer server(httpAnswer("ok"));
    const std::string url = "http://" + server.hostAndPort() + "/post.asp";
    const std::string body = "name=%D6%D0&count=12";
    Text method = "PoSt";
    Text headers = "X-Room: 7\r\n";
    EXPECT_EQ(httpRequest(url, &method, std::nullopt, &headers, body), "ok");

    const std::string sentHeaders = "X-Room: 7\r\n" + kAcceptLine + "Referer: " + url + "\r\n" + kLanguageLine +
                                    "Content-Type: application/x-www-form-urlencoded\r\n"
                                    "Content-Length: 20\r\n";
    EXPECT_EQ(server.onlyRequest(), "PoSt /post.asp HTTP/1.1\r\nHost: " + server.hostAndPort() + "\r\n" +
                                        kUserAgentLine + sentHeaders + "\r\n" + body);
    EXPECT_EQ(method, "PoSt");
    EXPECT_EQ(headers, sentHeaders);
}

TEST_F(HttpRequest, PathGoesAsWrittenSaveWhatARequestLineCannotCarry)
{
    RawHttpServer server(httpAnswer("ok"));
    const std::string address = "http://" + server.hostAndPort();
    httpRequest(address + "/../lyrics/./song.asp?id=1#part");
    // A space and the bytes of a double-byte character are percent-encoded.
    httpRequest(address + "/a b?key=\xD6\xD0");

    const auto requests = server.requests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /../lyrics/./song.asp?id=1#part HTTP/1.1");
    EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /a%20b?key=%d6%d0 HTTP/1.1");
}

TEST_F(HttpRequest, LargePostGoesAtOnceWithOneLengthLine)
{
    RawHttpServer server(httpAnswer("ok"));
    // Beyond the size from which libcurl would first ask for a go-ahead.
    const std::string body(3 * 1024 * 1024, 'x');
    Text method = "POST";
    EXPECT_EQ(httpRequest("http://" + server.hostAndPort() + "/big", &method, std::nullopt, nullptr, body), "ok");

    const std::string request = server.onlyRequest();
    const std::size_t headerEnd = request.find("\r\n\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    const std::string header = request.substr(0, headerEnd + 2);
    EXPECT_EQ(header.find("Expect"), std::string::npos);
    const std::string lengthLine = "Content-Length: " + std::to_string(body.size()) + "\r\n";
    EXPECT_NE(header.find(lengthLine), std::string::npos);
    EXPECT_EQ(header.find("Content-Length"), header.rfind("Content-Length"));
    EXPECT_TRUE(request.substr(headerEnd + 4) == body);
}

TEST_F(HttpRequest, OnlyPostInSomeCaseStaysAPostEveryOtherWordBecomesGet)
{
    RawHttpServer server(httpAnswer("ok"));
    const std::string url = "http://" + server.hostAndPort() + "/m";

    Text lowerPost = "post";
    httpRequest(url, &lowerPost, std::nullopt, nullptr, "a=1");
    Text put = "put";
    httpRequest(url, &put, std::nullopt, nullptr, "a=1");
    Text spacedPost = "POST ";
    httpRequest(url, &spacedPost);

    const auto requests = server.requests(3);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(lowerPost, "post");
    EXPECT_EQ(requests[0].substr(0, 19), "post /m HTTP/1.1\r\nH");
    EXPECT_EQ(requests[0].substr(requests[0].size() - 7), "\r\n\r\na=1");
    // A GET carries no body, whatever postData holds.
    EXPECT_EQ(put, "GET");
    EXPECT_EQ(requests[1].substr(0, 18), "GET /m HTTP/1.1\r\nH");
    EXPECT_EQ(requests[1].substr(requests[1].size() - 4), "\r\n\r\n");
    EXPECT_EQ(spacedPost, "GET");
}

TEST_F(HttpRequest, CallerLinesGoOutAsWrittenAndALowerCaseRefererReplacesOurs)
{
    RawHttpServer server(httpAnswer("ok"));
    const std::string url = "http://" + server.hostAndPort() + "/";
    Text headers = "referer: http://elsewhere.example/\r\nX-Empty:\r\n";
    httpRequest(url, nullptr, std::nullopt, &headers);

    EXPECT_EQ(server.onlyRequest(), "GET / HTTP/1.1\r\nHost: " + server.hostAndPort() + "\r\n" + kUserAgentLine +
                                        "referer: http://elsewhere.example/\r\nX-Empty:\r\n" + kAcceptLine +
                                        kLanguageLine + "\r\n");
}

TEST_F(HttpRequest, PostWithEmptyDataSendsNoTypeNoLengthAndNoBody)
{
    RawHttpServer server(httpAnswer("ok"));
    const std::string url = "http://" + server.hostAndPort() + "/empty";
    Text method = "POST";
    Text headers;
    EXPECT_EQ(httpRequest(url, &method, std::nullopt, &headers), "ok");

    EXPECT_EQ(server.onlyRequest(), "POST /empty HTTP/1.1\r\nHost: " + server.hostAndPort() + "\r\n" +
                                        kUserAgentLine + kAcceptLine + "Referer: " + url + "\r\n" +
                                        kLanguageLine + "\r\n");
    EXPECT_EQ(headers.find("Content-"), std::string::npos);
}

TEST_F(HttpRequest, ProxyReceivesTheFullAddress)
{
    RawHttpServer proxy(httpAnswer("via proxy"));
    // The named proxy is used for every host, whatever the environment exempts.
    setEnvironment("no_proxy", "*");
    const std::string url = "HTTP://Counter.Example.invalid:8080/tongji/online.asp?x=1";
    EXPECT_EQ(httpRequest(url, nullptr, proxy.hostAndPort()), "via proxy");

    EXPECT_EQ(proxy.onlyRequest(),
              "GET http://counter.example.invalid:8080/tongji/online.asp?x=1 HTTP/1.1\r\n"
              "Host: counter.example.invalid:8080\r\n" +
                  kUserAgentLine + kAcceptLine + "Referer: " + url + "\r\n" + kLanguageLine + "\r\n");
}

TEST_F(HttpRequest, WithoutAProxyArgumentTheEnvironmentsProxyIsNotUsed)
{
    RawHttpServer proxy(httpAnswer("via proxy"));
    RawHttpServer server(httpAnswer("direct"));
    setEnvironment("http_proxy", "http://" + proxy.hostAndPort());
    setEnvironment("all_proxy", "http://" + proxy.hostAndPort());

    EXPECT_EQ(httpRequest("http://" + server.hostAndPort() + "/"), "direct");
    EXPECT_EQ(proxy.finishedConnections(), 0u);
}

TEST_F(HttpRequest, ResponseHeaderBlockOfThreeThousandBytesComesBackWhole)
{
    std::string filler;
    while (filler.size() < 3000)
        filler += "X-Filler-" + std::to_string(filler.size()) + ": " + std::string(40, 'v') + "\r\n";
    const std::string block = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n" + filler + "\r\n";
    ASSERT_GT(block.size(), 3000u);
    RawHttpServer server(block + "body");

    Text responseHeaders;
    EXPECT_EQ(httpRequest("http://" + server.hostAndPort() + "/", nullptr, std::nullopt, nullptr, {},
                          &responseHeaders),
              "body");
    EXPECT_EQ(responseHeaders, block);
}

TEST_F(HttpRequest, ResponseHeadersAreThoseOfTheLastResponse)
{
    const std::string finalBlock = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n";
    RawHttpServer server({
        {"HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 5\r\nConnection: close\r\n\r\nmoved"},
        // An interim answer first, and line ends of a careless server.
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\nContent-Length: 5\nConnection: close\n\nfinal"},
    });
    Text responseHeaders;
    EXPECT_EQ(httpRequest("http://" + server.hostAndPort() + "/start", nullptr, std::nullopt, nullptr, {},
                          &responseHeaders),
              "final");
    EXPECT_EQ(responseHeaders, finalBlock);
    const auto requests = server.requests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].substr(0, 22), "GET /final HTTP/1.1\r\nH");
}

TEST_F(HttpRequest, PostTakesTheRedirectionAnswerAsItsReply)
{
    const std::string redirection =
        "HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 5\r\nConnection: close\r\n\r\n";
    RawHttpServer server({{redirection + "moved"}, {httpAnswer("final")}});
    Text method = "POST";
    Text responseHeaders;
    EXPECT_EQ(httpRequest("http://" + server.hostAndPort() + "/form", &method, std::nullopt, nullptr, "a=1",
                          &responseHeaders),
              "moved");
    EXPECT_EQ(responseHeaders, redirection);
    // The server files a connection once the client has hung up, which may
    // be just after the call returns: wait for it rather than race it.
    EXPECT_EQ(server.requests(1).size(), 1u);
}

TEST_F(HttpRequest, NoConnectionGivesAnEmptyBody)
{
    Text responseHeaders = "stale";
    const std::string url = "http://127.0.0.1:" + std::to_string(RawHttpServer::closedPort()) + "/";
    EXPECT_EQ(httpRequest(url, nullptr, std::nullopt, nullptr, {}, &responseHeaders), "");
    EXPECT_EQ(responseHeaders, "");
    // Addresses no connection can be made to at all.
    EXPECT_EQ(httpRequest("http://127.0.0.1:65536/"), "");
    EXPECT_EQ(httpRequest("http://bad host/"), "");
    EXPECT_EQ(httpRequest(""), "");
}

TEST_F(HttpRequest, BodyCutOffPartWayGivesWhatArrived)
{
    RawHttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst part");
    EXPECT_EQ(httpRequest("http://" + server.hostAndPort() + "/"), "first part");
}

TEST_F(HttpRequest, OnTheWindowThreadPendingEventsRunWhileTheRequestWaits)
{
    RawHttpServer server({{httpAnswer("late"), kSlowAnswer}});
    bool ranBeforeTheAnswer = false;
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver, [&] { ranBeforeTheAnswer = server.finishedConnections() == 0; }, Qt::QueuedConnection);

    EXPECT_EQ(httpRequest("http://" + server.hostAndPort() + "/"), "late");
    EXPECT_TRUE(ranBeforeTheAnswer);
}

TEST_F(HttpRequest, OnAWorkerThreadEventsAreLeftAlone)
{
    RawHttpServer server({{httpAnswer("late"), kSlowAnswer}});
    Text body;
    bool ranDuringTheRequest = true;
    bool ranWhenAskedFor = false;
    std::thread worker([&] {
        // An event loop gives the worker the means to process events at
        // all, so a call that did so would be seen.
        QEventLoop workerLoop;
        QObject receiver;  // lives on the worker
        bool ran = false;
        QMetaObject::invokeMethod(&receiver, [&] { ran = true; }, Qt::QueuedConnection);
        body = httpRequest("http://" + server.hostAndPort() + "/");
        ranDuringTheRequest = ran;
        // The event was there to be processed all along.
        QCoreApplication::processEvents();
        ranWhenAskedFor = ran;
    });
    worker.join();
    EXPECT_EQ(body, "late");
    EXPECT_FALSE(ranDuringTheRequest);
    EXPECT_TRUE(ranWhenAskedFor);
}

}  // namespace
