#include "runtime/dialogs.h"
#include "runtime/window_runtime.h"
#include "board/sound_catalogue.h"
#include "support/played_sounds.h"
#include "support/recorded_boxes.h"
#include "support/board_fixtures.h"
#include "support/board_window.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include <vector>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

QByteArray gbkBytes(const QString& text)
{
    const Text bytes = fromQString(text);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

// The custom page, the slider and the sound-card option, driven as the host
// drives them; the dialogs are answered here instead of by a person.
class BoardTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<WindowRuntime> runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;
    QStringList fileAnswers_;  // next answers of the file dialog; "" cancels
    QList<FileDialogRequest> fileRequests_;

    // What the board's status line shows now; empty while hidden.
    QString statusLine() const
    {
        const auto* line = window_->findChild<QLabel*>(QStringLiteral("状态行"));
        return line && line->isVisible() ? line->text() : QString();
    }
    QList<InputBoxAnswer> nameAnswers_;
    QList<InputBoxRequest> nameRequests_;

    QString iniPath() const { return dir_->filePath("my.ini"); }

    [[nodiscard]] bool openWindow()
    {
        window_ = openBoardWindow(*runtime_, tables_, iniPath());
        return window_ != nullptr;
    }

    void closeWindow() { closeBoardWindow(window_); }

    QPushButton* slotButton(int slot) const { return window_->findChild<QPushButton*>(slotButtonName(slot)); }

    QByteArray iniBytes() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    [[nodiscard]] bool writeIni(const QString& text)
    {
        QFile file(iniPath());
        const QByteArray bytes = gbkBytes(text);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        runtime_ = std::make_unique<WindowRuntime>();
        fileAnswers_.clear();
        fileRequests_.clear();
        nameAnswers_.clear();
        nameRequests_.clear();
        setFileDialogSeam([this](const FileDialogRequest& request) {
            fileRequests_ << request;
            return fileAnswers_.isEmpty() ? QString() : fileAnswers_.takeFirst();
        });
        setInputBoxSeam([this](const InputBoxRequest& request) {
            nameRequests_ << request;
            return nameAnswers_.isEmpty() ? InputBoxAnswer{} : nameAnswers_.takeFirst();
        });
    }

    void cleanup()
    {
        closeWindow();
        runtime_.reset();
        setFileDialogSeam({});
        setInputBoxSeam({});
    }

    void firstStartWithoutSettingsShowsDefaultsAndWritesNothing()
    {
        QVERIFY(openWindow());
        for (int slot = 1; slot <= kCustomSlotCount; ++slot)
            QCOMPARE(slotButton(slot)->text(), QStringLiteral("个性音效"));
        QVERIFY(!QFile::exists(iniPath()));
    }

    void assigningASlotStoresItInGbkAndNamesTheButton()
    {
        QVERIFY(openWindow());
        const QString chosen = dir_->filePath("我的掌声 01.wav");
        QVERIFY(writeSquareWav(chosen, 1, 10000));
        fileAnswers_ << chosen;
        nameAnswers_ << InputBoxAnswer{true, QStringLiteral("热烈掌声")};
        slotButton(5)->click();

        QCOMPARE(fileRequests_.size(), 1);
        QVERIFY(fileRequests_[0].title.isEmpty());
        QVERIFY(fileRequests_[0].filter.isEmpty());
        QCOMPARE(nameRequests_.size(), 1);
        QCOMPARE(nameRequests_[0].title, QStringLiteral("自定义名称"));
        QCOMPARE(nameRequests_[0].prompt, QStringLiteral("请输入自定义名称"));
        QCOMPARE(nameRequests_[0].okText, QStringLiteral("确认输入(&O)"));
        QCOMPARE(nameRequests_[0].cancelText, QStringLiteral("取消(&C)"));
        QCOMPARE(slotButton(5)->text(), QStringLiteral("热烈掌声"));

        const QByteArray ini = iniBytes();
        QVERIFY(ini.contains(gbkBytes(QStringLiteral("[自定义音乐]"))));
        QVERIFY(ini.contains(gbkBytes(QStringLiteral("按钮5path=") + chosen)));
        QVERIFY(ini.contains(gbkBytes(QStringLiteral("按钮5name=热烈掌声"))));

        // The next start finds the slot again.
        closeWindow();
        QVERIFY(openWindow());
        QCOMPARE(slotButton(5)->text(), QStringLiteral("热烈掌声"));
        QCOMPARE(toQString(tables_.paths[5]), chosen);
        QCOMPARE(slotButton(6)->text(), QStringLiteral("个性音效"));
    }

    void slotThatMyIniCannotKeepIsBoundForNowAndTheHostIsTold()
    {
        // A folder where my.ini should be: no write can succeed, not even an administrator's.
        QVERIFY(QDir(dir_->path()).mkdir("my.ini"));
        QVERIFY(openWindow());
        RecordedBoxes boxes;
        QVERIFY(writeSquareWav(dir_->filePath("opening.wav"), 1, 10000));
        fileAnswers_ << dir_->filePath("opening.wav");
        nameAnswers_ << InputBoxAnswer{true, QStringLiteral("开场")};
        slotButton(2)->click();

        QCOMPARE(slotButton(2)->text(), QStringLiteral("开场"));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("自定义音效无法写入 my.ini，下次启动时不会保留。"));
        QVERIFY(QFileInfo(iniPath()).isDir());
    }

    void cancellingTheFileDialogChangesNothingEvenAfterAnEarlierChoice()
    {
        QVERIFY(openWindow());
        slotButton(1)->click();  // cancelled with no earlier choice
        QVERIFY(!QFile::exists(iniPath()));
        QVERIFY(tables_.paths[1].empty());

        // A file that will not play is refused with its reason, and binds nothing.
        RecordedBoxes boxes;
        const QString notes = dir_->filePath("notes.mp3");
        QFile text(notes);
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("主持人的笔记\n") > 0);
        text.close();
        fileAnswers_ << notes << dir_->filePath("gone.wav");
        slotButton(1)->click();
        slotButton(1)->click();
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("无法播放这个文件：格式不支持"));
        QCOMPARE(boxes.shown[1].text, QStringLiteral("找不到文件"));
        QVERIFY(tables_.paths[1].empty());
        QVERIFY(!QFile::exists(iniPath()));

        QVERIFY(writeSquareWav(dir_->filePath("a.wav"), 1, 10000));
        fileAnswers_ << dir_->filePath("a.wav");
        nameAnswers_ << InputBoxAnswer{true, QStringLiteral("甲")};
        slotButton(2)->click();
        const QByteArray before = iniBytes();

        slotButton(3)->click();  // the dialog opens on the earlier file, and is cancelled
        QCOMPARE(fileRequests_.last().initialPath, dir_->filePath("a.wav"));
        QVERIFY(tables_.paths[3].empty());
        QCOMPARE(slotButton(3)->text(), QStringLiteral("个性音效"));
        QCOMPARE(iniBytes(), before);
    }

    void cancellingTheNameKeepsTheFileWithAnEmptyName()
    {
        QVERIFY(openWindow());
        QVERIFY(writeSquareWav(dir_->filePath("b.wav"), 1, 10000));
        fileAnswers_ << dir_->filePath("b.wav");
        nameAnswers_ << InputBoxAnswer{false, {}};
        slotButton(18)->click();
        // The button shows the file's own name rather than nothing.
        QCOMPARE(slotButton(18)->text(), QStringLiteral("b"));
        QCOMPARE(slotButton(18)->toolTip(), QStringLiteral("按钮18：b.wav"));
        QVERIFY(iniBytes().contains(gbkBytes(QStringLiteral("按钮18name=\r\n"))));

        closeWindow();
        QVERIFY(openWindow());
        QCOMPARE(slotButton(18)->text(), QStringLiteral("b"));
        QVERIFY(!tables_.paths[18].empty());
    }

    void droppingASoundFileAssignsItAfterTheNameBoxOpensWithItsName()
    {
        QVERIFY(openWindow());
        RecordedBoxes boxes;
        const QString wav = dir_->filePath("热烈 掌声.v2.wav");
        QVERIFY(writeSquareWav(wav, 1, 10000));
        nameAnswers_ << InputBoxAnswer{true, QStringLiteral("掌声")};
        QVERIFY(dragAndDrop(slotButton(4), *droppedUrls({QUrl::fromLocalFile(wav)})));
        QVERIFY(QTest::qWaitFor([this] { return !nameRequests_.isEmpty(); }));

        QCOMPARE(nameRequests_.size(), 1);
        QCOMPARE(nameRequests_[0].initialText, QStringLiteral("热烈 掌声.v2"));
        QCOMPARE(nameRequests_[0].title, QStringLiteral("自定义名称"));
        QCOMPARE(nameRequests_[0].prompt, QStringLiteral("请输入自定义名称"));
        QVERIFY(fileRequests_.isEmpty());
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(slotButton(4)->text(), QStringLiteral("掌声"));
        const QByteArray ini = iniBytes();
        QVERIFY(ini.contains(gbkBytes(QStringLiteral("[自定义音乐]\r\n按钮4path=") + wav + "\r\n按钮4name=掌声\r\n")));

        // The slot is bound: a click plays the file and asks nothing.
        test::PlayedSounds played;
        slotButton(4)->click();
        QVERIFY(fileRequests_.isEmpty());
        QCOMPARE(played.lines.filter(QStringLiteral("open ")), QStringList{"open " + wav});
    }

    void droppingAnythingButOnePlayableFileIsRefusedWithAMessage()
    {
        QVERIFY(openWindow());
        RecordedBoxes boxes;
        const QString notes = dir_->filePath("notes.txt");
        const QString posing = dir_->filePath("伪装.mp3");  // text under a sound file's name
        for (const QString& path : {notes, posing}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write("主持人的笔记\n") > 0);
        }
        const QString folder = dir_->filePath("音效");
        QVERIFY(QDir().mkdir(folder));
        const QString wav = dir_->filePath("a.wav");
        QVERIFY(writeSquareWav(wav, 1, 10000));

        std::vector<std::unique_ptr<QMimeData>> drops;
        drops.push_back(droppedUrls({QUrl::fromLocalFile(notes)}));
        drops.push_back(droppedUrls({QUrl::fromLocalFile(posing)}));
        drops.push_back(droppedUrls({QUrl::fromLocalFile(folder)}));
        drops.push_back(droppedUrls({QUrl::fromLocalFile(dir_->filePath("gone.wav"))}));
        drops.push_back(droppedUrls({QUrl(QStringLiteral("http://127.0.0.1:9/a.wav"))}));
        drops.push_back(droppedUrls({QUrl::fromLocalFile(wav), QUrl::fromLocalFile(wav)}));
        drops.push_back(std::make_unique<QMimeData>());
        drops.back()->setText(wav);  // a path as text is no file
        for (const auto& mime : drops) {
            const qsizetype shown = boxes.shown.size();
            QVERIFY(dragAndDrop(slotButton(6), *mime));
            QVERIFY(QTest::qWaitFor([&] { return boxes.shown.size() > shown; }));
        }

        QCOMPARE(boxes.shown.size(), qsizetype(drops.size()));
        // A file is refused with the reason it will not play; anything else with a word on what to drop.
        for (int i : {0, 1})
            QCOMPARE(boxes.shown[i].text, QStringLiteral("无法播放这个文件：格式不支持"));
        for (const ShownMessageBox& box : boxes.shown.mid(2)) {
            QCOMPARE(box.text, boxes.shown[2].text);
        }
        for (const ShownMessageBox& box : boxes.shown) {
            QCOMPARE(box.style, int(kBoxOkInformation));
            QCOMPARE(box.caption, QStringLiteral("信息："));
        }
        QVERIFY(!boxes.shown[2].text.isEmpty());
        QVERIFY(nameRequests_.isEmpty());
        QVERIFY(tables_.paths[6].empty());
        QCOMPARE(slotButton(6)->text(), QStringLiteral("个性音效"));
        QVERIFY(!QFile::exists(iniPath()));
    }

    // A drop on a bound slot binds it anew, but there the name box confirms:
    // a stray drop is undone by cancelling it.
    void droppingOnABoundSlotRebindsItUnlessTheNameBoxIsCancelled()
    {
        const QString old = dir_->filePath("old.wav");
        QVERIFY(writeIni(QStringLiteral("[自定义音乐]\r\n按钮9path=%1\r\n按钮9name=旧\r\n[响度]\r\n按钮9=-3\r\n").arg(old)));
        // Too short to be measured: no new gain can come in while the test looks.
        const QString blip = dir_->filePath("blip.wav");
        QVERIFY(writeWav(blip, kWavRate / 4, [](int i) { return i % 100 < 50 ? 8000 : -8000; }));
        QVERIFY(openWindow());
        QCOMPARE(tables_.loudnessGains[9], std::optional<double>(-3));
        const QByteArray before = iniBytes();

        nameAnswers_ << InputBoxAnswer{false, {}};
        QVERIFY(dragAndDrop(slotButton(9), *droppedUrls({QUrl::fromLocalFile(blip)})));
        QVERIFY(QTest::qWaitFor([this] { return nameRequests_.size() == 1; }));
        QCOMPARE(nameRequests_[0].initialText, QStringLiteral("blip"));
        QCOMPARE(toQString(tables_.paths[9]), old);
        QCOMPARE(slotButton(9)->text(), QStringLiteral("旧"));
        QCOMPARE(iniBytes(), before);

        nameAnswers_ << InputBoxAnswer{true, QStringLiteral("新")};
        QVERIFY(dragAndDrop(slotButton(9), *droppedUrls({QUrl::fromLocalFile(blip)})));
        QVERIFY(QTest::qWaitFor([this] { return nameRequests_.size() == 2; }));
        QCOMPARE(toQString(tables_.paths[9]), blip);
        QCOMPARE(slotButton(9)->text(), QStringLiteral("新"));
        const QByteArray ini = iniBytes();
        QVERIFY(ini.contains(gbkBytes(QStringLiteral("按钮9path=") + blip + "\r\n按钮9name=新\r\n")));
        // The old file's gain does not carry over to the new one.
        QVERIFY(ini.contains(gbkBytes(QStringLiteral("[响度]\r\n按钮9=\r\n"))));
        QVERIFY(!tables_.loudnessGains[9]);
    }

    void aFilledSlotPlaysItsFileWithoutAsking()
    {
        QVERIFY(writeIni(QStringLiteral("[自定义音乐]\r\n按钮7path=/nowhere/铃声.wav\r\n按钮7name=\r\n")));
        QVERIFY(openWindow());
        QCOMPARE(slotButton(7)->text(), QStringLiteral("铃声"));
        slotButton(7)->click();
        QVERIFY(fileRequests_.isEmpty());
        // A file gone since it was bound is told on the board, not in a box that would stop the show.
        QCOMPARE(statusLine(), QStringLiteral("找不到文件：/nowhere/铃声.wav"));
    }

    // Ctrl+F on the board opens the search; Enter there plays what a click on
    // the found button plays, an effect or a bound slot, and the search stays.
    void ctrlFFindsEffectsAndSlotsAndEnterPlaysThemAsAClick()
    {
        QVERIFY(writeIni(QStringLiteral("[自定义音乐]\r\n按钮7path=/nowhere/铃声.wav\r\n按钮7name=开场铃声\r\n")));
        QVERIFY(openWindow());
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        QTest::keyClick(window_, Qt::Key_F, Qt::ControlModifier);
        QWidget* search = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("查找音效窗口") && w->isVisible())
                search = w;
        QVERIFY(search != nullptr);
        auto* field = search->findChild<QLineEdit*>(QStringLiteral("查找框"));
        QVERIFY(field != nullptr);

        test::PlayedSounds played;
        QTest::keyClicks(field, QStringLiteral("htdx"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(played.lines.filter(QStringLiteral("open ")), QStringList{"open " + test::effectFile("qzxs.mp3")});  // 哄堂大笑
        QVERIFY(search->isVisible());

        field->clear();
        QTest::keyClicks(field, QStringLiteral("kcls"));  // 开场铃声
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(statusLine(), QStringLiteral("找不到文件：/nowhere/铃声.wav"));
        QVERIFY(fileRequests_.isEmpty());
        search->close();
    }

    void slotsAboveEighteenAndOtherSectionsAreIgnored()
    {
        QVERIFY(writeIni(QStringLiteral("; 主持人的设置\r\n[其他]\r\n按钮3name=错\r\n[自定义音乐]\r\n"
                                        "按钮3path=/x/三.wav\r\n按钮3name=三号\r\n按钮20path=/x/廿.wav\r\n"
                                        "按钮20name=二十\r\n")));
        QVERIFY(openWindow());
        QCOMPARE(slotButton(3)->text(), QStringLiteral("三号"));
        QVERIFY(tables_.paths[20].empty());
        for (int slot = 1; slot <= kCustomSlotCount; ++slot)
            if (slot != 3)
                QCOMPARE(slotButton(slot)->text(), QStringLiteral("个性音效"));
    }

    void sliderShowsItsPositionInTheVolumeLabel()
    {
        QVERIFY(openWindow());
        auto* slider = window_->findChild<QSlider*>("滑块条1");
        auto* label = window_->findChild<QLabel*>("标签2");
        slider->setValue(37);
        QCOMPARE(label->text(), QStringLiteral("37"));
        slider->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(label->text(), QStringLiteral("32"));
        slider->setValue(1);
        QCOMPARE(label->text(), QStringLiteral("1"));
    }

    void soundCardOptionAnswersBothWays()
    {
        QVERIFY(openWindow());
        RecordedBoxes boxes;
        auto* option = window_->findChild<QCheckBox*>("选择框1");
        option->click();
        option->click();
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("恭喜,开启成功!"));
        QCOMPARE(boxes.shown[1].text, QStringLiteral("哦耶,关闭成功!"));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("信息："));
        QCOMPARE(boxes.shown[0].style, int(kBoxOk));
    }
};

QINGHE_WINDOW_TEST_MAIN(BoardTest)
#include "board_test.moc"
