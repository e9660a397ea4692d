// The page body as the lyrics search reads it: our serialiser run in real
// pages of the browser engine.

#include "lyrics/page_browser.h"
#include "support/window_test_main.h"
#include "text/gbk.h"

#include <QSignalSpy>
#include <QWebEngineView>

using namespace qinghe;

namespace {

// Generous for a page held in memory, on a busy machine.
constexpr int kPageLoadLimitMs = 30000;

}  // namespace

class BodySerialiserTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWebEngineView> view_;
    std::unique_ptr<PageBrowser> browser_;

    // The body of a page holding bodyHtml, as the serialiser writes it.
    QString serialised(const QString& bodyHtml)
    {
        QSignalSpy loaded(view_.get(), &QWebEngineView::loadFinished);
        view_->setHtml(QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>") + bodyHtml +
                       QStringLiteral("</html>"));
        if (!loaded.wait(kPageLoadLimitMs))
            return QStringLiteral("(page not loaded)");
        return toQString(browser_->fetchPageHtml(QDeadlineTimer(kPageLoadLimitMs)));
    }

private slots:
    void initTestCase()
    {
        view_ = std::make_unique<QWebEngineView>();
        view_->resize(200, 100);
        view_->show();
        browser_ = std::make_unique<PageBrowser>(*view_);
    }

    void cleanupTestCase()
    {
        browser_.reset();
        view_.reset();
    }

    void writesTheBodyInTheOldForm_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");

        QTest::newRow("tag names in capitals")
            << "<body><p>a</p><Span>b</Span></body>" << "<BODY><P>a</P><SPAN>b</SPAN></BODY>";
        QTest::newRow("simple values bare")
            << "<body><p id=\"lyrics\" class='x-1_y.2' data-n=\"#ff0000\">a</p></body>"
            << "<BODY><P id=lyrics class=x-1_y.2 data-n=#ff0000>a</P></BODY>";
        QTest::newRow("values with spaces or marks quoted")
            << "<body><span title=\"two words\" lang=\"zh/cn\">a</span><a href=\"http://h/p?q=1\">b</a></body>"
            << "<BODY><SPAN title=\"two words\" lang=\"zh/cn\">a</SPAN><A href=\"http://h/p?q=1\">b</A></BODY>";
        QTest::newRow("quotes and ampersands in quoted values")
            << "<body><span title='say \"hi\" &amp; go'>a</span></body>"
            << "<BODY><SPAN title=\"say &quot;hi&quot; &amp; go\">a</SPAN></BODY>";
        QTest::newRow("empty value written as the name alone")
            << "<body><input type=\"checkbox\" checked><input value=\"\"></body>"
            << "<BODY><INPUT type=checkbox checked><INPUT value></BODY>";
        QTest::newRow("nested tags")
            << "<body><table><tr><td class=\"data\">mid=7|<b><i>x</i></b></td></tr></table></body>"
            << "<BODY><TABLE><TBODY><TR><TD class=data>mid=7|<B><I>x</I></B></TD></TR></TBODY></TABLE></BODY>";
        QTest::newRow("void elements without end tags")
            << "<body>a<br>b</br>c<BR/>d<img src=\"x.png\"><hr><input></body>"
            << "<BODY>a<BR>b<BR>c<BR>d<IMG src=x.png><HR><INPUT></BODY>";
        QTest::newRow("text with entities as written")
            << "<body><p>a &amp; b &lt;c&gt;&nbsp;d \"e\" 'f'</p></body>"
            << "<BODY><P>a &amp; b &lt;c&gt;&nbsp;d \"e\" 'f'</P></BODY>";
        QTest::newRow("script and style text unescaped")
            << "<body><script>var a = 1 < 2 && 3 > 2;</script><style>p > b { }</style></body>"
            << "<BODY><SCRIPT>var a = 1 < 2 && 3 > 2;</SCRIPT><STYLE>p > b { }</STYLE></BODY>";
        QTest::newRow("comments and attributes of the body")
            << "<body class=\"page\" onload=\"void 0\"><!-- note -->x</body>"
            << "<BODY class=page onload=\"void 0\"><!-- note -->x</BODY>";
        QTest::newRow("Chinese text and the end tags the parser adds")
            << "<body><ul><li>青禾<li>之歌</ul><p>一<p>二</body>"
            << "<BODY><UL><LI>青禾</LI><LI>之歌</LI></UL><P>一</P><P>二</P></BODY>";
        QTest::newRow("empty body") << "<body></body>" << "<BODY></BODY>";
    }

    void writesTheBodyInTheOldForm()
    {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QCOMPARE(serialised(body), expected);
    }

    void readsWhatThePageScriptWrote()
    {
        const QString page = QStringLiteral(
            "<body><table id=\"r\"><tr><td>...</td></tr></table><script>"
            "document.getElementById('r').rows[0].innerHTML = '<td class=\"data\">mid=9|</td>';</script></body>");
        QCOMPARE(serialised(page), QStringLiteral("<BODY><TABLE id=r><TBODY><TR><TD class=data>mid=9|</TD></TR>"
                                                  "</TBODY></TABLE><SCRIPT>document.getElementById('r').rows[0]"
                                                  ".innerHTML = '<td class=\"data\">mid=9|</td>';</SCRIPT></BODY>"));
    }

    void pageScriptsCannotChangeTheSerialiser()
    {
        // The serialiser runs in a script world of its own: the page's
        // changes to the built-in objects do not reach it.
        const QString page = QStringLiteral(
            "<body><p>a</p><script>String.prototype.toUpperCase = function () { return 'x'; };"
            "Array.prototype.join = function () { return 'broken'; };</script></body>");
        QVERIFY(serialised(page).startsWith(QStringLiteral("<BODY><P>a</P><SCRIPT>")));
    }

    void deepPagesAreWrittenWhole()
    {
        // Deeper than the engine allows calls to nest; hidden, so that
        // nothing lays the tree out.
        constexpr int kDepth = 20000;
        const QString page = QStringLiteral(
            "<body><div id=\"d\" hidden></div><script>var n = document.getElementById('d');"
            " for (var i = 0; i < %1; ++i) n = n.appendChild(document.createElement('i'));"
            " n.textContent = 'end'; document.currentScript.remove();</script></body>").arg(kDepth);
        const QString html = serialised(page);
        QCOMPARE(html.count(QStringLiteral("<I>")), kDepth);
        QVERIFY(html.startsWith(QStringLiteral("<BODY><DIV id=d hidden><I><I>")));
        QCOMPARE(html.count(QStringLiteral("</I>")), kDepth);
        QVERIFY(html.contains(QStringLiteral("<I>end</I></I>")));
        QVERIFY(html.endsWith(QStringLiteral("</I></I></DIV></BODY>")));
    }
};

QINGHE_WINDOW_TEST_MAIN(BodySerialiserTest)
#include "body_serialiser_test.moc"
