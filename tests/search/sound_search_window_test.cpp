#include "runtime/window_runtime.h"
#include "search/sound_search_window.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTest>

using namespace qinghe;

namespace {

std::vector<SearchEntry> boardWithSlotNamed(const QString& name)
{
    return boardSearchEntries([name](int slot) { return slot == 1 ? name : QString(); });
}

}  // namespace

class SoundSearchWindowTest : public QObject {
    Q_OBJECT

    WindowRuntime runtime_;
    QPointer<SoundSearchWindow> window_;
    QStringList played_;

    SoundSearchWindow* open(const QString& slotName)
    {
        return openSoundSearchWindow(runtime_, boardWithSlotNamed(slotName),
                                     [this](const SearchEntry& entry) { played_ << entry.caption + "@" + entry.control; });
    }
    QLineEdit* field() const { return window_->findChild<QLineEdit*>("查找框"); }
    QListWidget* list() const { return window_->findChild<QListWidget*>("结果列表"); }
    QString chosen() const { return list()->currentItem() != nullptr ? list()->currentItem()->text() : QString(); }

private slots:
    void init()
    {
        played_.clear();
        window_ = open(QStringLiteral("开场白"));
        QVERIFY(window_ != nullptr);
        QVERIFY(QTest::qWaitForWindowActive(window_));
        QCOMPARE(window_->windowTitle(), QStringLiteral("查找音效"));
    }

    void cleanup()
    {
        if (window_ != nullptr)
            window_->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void typingFiltersUpDownChooseEnterPlaysAndStaysEscCloses()
    {
        QTest::keyClicks(field(), "htdx");
        QCOMPARE(chosen(), QStringLiteral("哄堂大笑"));
        QTest::keyClick(field(), Qt::Key_Return);
        QCOMPARE(played_, QStringList{QStringLiteral("哄堂大笑@按钮8")});
        QVERIFY(window_->isVisible());

        field()->clear();
        QTest::keyClicks(field(), "xs");
        QVERIFY(list()->count() > 2);
        const QString first = chosen();
        QTest::keyClick(field(), Qt::Key_Down);
        QTest::keyClick(field(), Qt::Key_Down);
        QCOMPARE(list()->currentRow(), 2);
        QTest::keyClick(field(), Qt::Key_Up);
        QTest::keyClick(field(), Qt::Key_Up);
        QTest::keyClick(field(), Qt::Key_Up);
        QCOMPARE(chosen(), first);
        QTest::keyClick(field(), Qt::Key_Down);
        QTest::keyClick(field(), Qt::Key_Enter);
        QCOMPARE(played_.size(), 2);
        QVERIFY(played_.last().startsWith(list()->item(1)->text() + "@"));
        // The field kept the focus all along.
        QCOMPARE(QApplication::focusWidget(), field());

        QTest::keyClick(field(), Qt::Key_Escape);
        QVERIFY(!window_->isVisible());
    }

    void openingAgainShowsTheSlotsAsTheyAreNow()
    {
        QTest::keyClicks(field(), "kcb");
        QCOMPARE(chosen(), QStringLiteral("开场白"));
        QCOMPARE(open(QStringLiteral("片尾曲")), window_.data());
        QCOMPARE(field()->selectedText(), QStringLiteral("kcb"));
        QCOMPARE(list()->count(), 0);
        QTest::keyClicks(field(), "pwq");
        QTest::keyClick(field(), Qt::Key_Return);
        QCOMPARE(played_.size(), 1);
        QVERIFY(played_.first().startsWith(QStringLiteral("片尾曲@按钮")));
    }

    void oddInputFindsNothingAndEnterPlaysNothing()
    {
        field()->setText(QString(10 * 1024, QChar(0xD83D)) + QStringLiteral("😀\x01"));
        QCOMPARE(list()->count(), 0);
        QTest::keyClick(field(), Qt::Key_Down);
        QTest::keyClick(field(), Qt::Key_Return);
        QVERIFY(played_.isEmpty());
        field()->clear();
        QCOMPARE(list()->count(), static_cast<int>(boardWithSlotNamed(QStringLiteral("开场白")).size()));
    }
};

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SoundSearchWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "sound_search_window_test.moc"
