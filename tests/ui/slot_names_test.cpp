// Custom slots bound to files whose names GBK cannot hold: stored in my.ini,
// shown on the button and played again after the next start.

#include "board/sound_catalogue.h"
#include "media/engine/sound_engine.h"
#include "runtime/dialogs.h"
#include "runtime/window_runtime.h"
#include "support/board_fixtures.h"
#include "support/window_test_main.h"
#include "text/gbk.h"
#include "ui/main_window.h"

#include "support/played_sounds.h"

#include <QDataStream>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <atomic>
#include <cstdlib>
#include <iconv.h>
#include <string>

using namespace qinghe;
using namespace qinghe::test_support;

namespace {

constexpr int kRate = 44100;
constexpr int kAmplitude = 20000;
// Half a second of sound is plenty to hear that a slot plays.
constexpr int kHeardFrames = kRate / 2;
// The dummy audio device takes blocks in real time; give it ample time.
constexpr int kPatienceMs = 10000;

// The loudest sample handed to the audio device while it lives.
class LoudestSample {
public:
    LoudestSample()
    {
        setMixObserver([this](const std::int16_t* samples, int frames, std::uint64_t) {
            for (int i = 0; i < 2 * frames; ++i)
                if (std::abs(samples[i]) > peak_)
                    peak_ = std::abs(samples[i]);
        });
    }
    ~LoudestSample() { setMixObserver({}); }
    LoudestSample(const LoudestSample&) = delete;
    LoudestSample& operator=(const LoudestSample&) = delete;

    // The peak once that many more frames have gone to the device; -1 if they never do.
    int afterFrames(std::uint64_t frames) const
    {
        const std::uint64_t until = mediaMixedFrames() + frames;
        if (!QTest::qWaitFor([until] { return mediaMixedFrames() > until; }, kPatienceMs))
            return -1;
        return peak_;
    }

private:
    std::atomic<int> peak_{0};
};

// The bytes iconv gives for text in the named encoding; empty when it cannot.
QByteArray iconvBytes(const QString& text, const char* encoding)
{
    iconv_t cd = iconv_open(encoding, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 4 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = static_cast<std::size_t>(in.size());
    std::size_t outLeft = static_cast<std::size_t>(out.size());
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    return ok ? out.left(out.size() - static_cast<qsizetype>(outLeft)) : QByteArray();
}

}  // namespace

class SlotNamesTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<WindowRuntime> runtime_;
    CustomSoundTables tables_;
    QPointer<MainWindow> window_;
    QStringList fileAnswers_;
    QList<FileDialogRequest> fileRequests_;
    QList<InputBoxAnswer> nameAnswers_;
    std::unique_ptr<test::PlayedSounds> played_;

    QString iniPath() const { return dir_.filePath("my.ini"); }

    void start()
    {
        tables_ = CustomSoundTables{};
        runtime_ = std::make_unique<WindowRuntime>();
        MainWindowContext context{*runtime_, tables_, Addresses::allAt("127.0.0.1:9"), iniPath(),
                                  [] { return false; }};
        window_ = MainWindow::open(context);
        QVERIFY(window_ != nullptr);
    }

    void quit()
    {
        // Closing while a sound plays would ask the host.
        SoundEngine::instance().stopAll();
        if (window_)
            window_->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime_.reset();
    }

    QPushButton* slotButton(int slot) const { return window_->findChild<QPushButton*>(slotButtonName(slot)); }

    QByteArray iniBytes() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Whether the last click started a sound.
    bool lastOpenSucceeded() const { return !played_->lines.filter(QStringLiteral("play ")).isEmpty(); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        played_ = std::make_unique<test::PlayedSounds>();
        setFileDialogSeam([this](const FileDialogRequest& request) {
            fileRequests_ << request;
            return fileAnswers_.isEmpty() ? QString() : fileAnswers_.takeFirst();
        });
        setInputBoxSeam([this](const InputBoxRequest&) {
            return nameAnswers_.isEmpty() ? InputBoxAnswer{} : nameAnswers_.takeFirst();
        });
    }

    void cleanupTestCase()
    {
        played_.reset();
        setFileDialogSeam({});
        setInputBoxSeam({});
    }

    void init()
    {
        QFile::remove(iniPath());
        fileAnswers_.clear();
        fileRequests_.clear();
        nameAnswers_.clear();
        played_->lines.clear();
    }

    void cleanup() { quit(); }

    void aSlotBoundToANameGbkCannotHoldPlaysAfterARestart_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("slotName");
        QTest::newRow("Korean, accented Latin, emoji") << QStringLiteral("한국 café 😀.wav")
                                                       << QStringLiteral("한국 café 😀");
        QTest::newRow("mixed with Chinese") << QStringLiteral("青禾 한국어 Ærø 🎵 掌声.wav")
                                            << QStringLiteral("掌声 ñ 한 🎉");
        QTest::newRow("Chinese only") << QStringLiteral("热烈掌声.wav") << QStringLiteral("热烈掌声");
    }

    void aSlotBoundToANameGbkCannotHoldPlaysAfterARestart()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, slotName);
        const QString chosen = dir_.filePath(fileName);
        QVERIFY(writeSquareWav(chosen, 3, kAmplitude));

        start();
        fileAnswers_ << chosen;
        nameAnswers_ << InputBoxAnswer{true, slotName};
        slotButton(4)->click();
        QCOMPARE(slotButton(4)->text(), slotName);

        // my.ini holds GB18030, of which GBK is the one- and two-byte part.
        const QByteArray ini = iniBytes();
        QVERIFY(ini.contains("=" + iconvBytes(chosen, "GB18030") + "\r\n"));
        QVERIFY(ini.contains("=" + iconvBytes(slotName, "GB18030") + "\r\n"));
        QVERIFY(!ini.contains('?'));
        quit();

        // The next start shows the name and plays the file, and the dialog
        // opens on the same file for the next empty slot.
        start();
        QCOMPARE(slotButton(4)->text(), slotName);
        LoudestSample loudest;
        played_->lines.clear();
        slotButton(4)->click();
        QVERIFY(lastOpenSucceeded());
        QVERIFY(loudest.afterFrames(kHeardFrames) > kAmplitude / 4);
        QVERIFY(fileRequests_.size() == 1);
        fileAnswers_ << QString();
        slotButton(5)->click();
        QCOMPARE(fileRequests_.last().initialPath, QString());
        fileAnswers_ << chosen;
        nameAnswers_ << InputBoxAnswer{false, {}};
        slotButton(6)->click();
        fileAnswers_ << QString();
        slotButton(7)->click();
        QCOMPARE(fileRequests_.last().initialPath, chosen);
    }

    void aSlotTheOldProgramStoredInGbkReadsAsBefore()
    {
        // my.ini as the platform's own GBK functions wrote it.
        const QString chosen = dir_.filePath(QStringLiteral("欢呼 €.wav"));
        QVERIFY(writeSquareWav(chosen, 3, kAmplitude));
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(iconvBytes(QStringLiteral("[自定义音乐]\r\n按钮9path=") + chosen
                                  + QStringLiteral("\r\n按钮9name=欢呼·€\r\n"),
                              "GBK"));
        file.close();
        start();
        QCOMPARE(slotButton(9)->text(), QStringLiteral("欢呼·€"));
        LoudestSample loudest;
        slotButton(9)->click();
        QVERIFY(lastOpenSucceeded());
        QVERIFY(loudest.afterFrames(kHeardFrames) > kAmplitude / 4);
    }
};

QINGHE_WINDOW_TEST_MAIN(SlotNamesTest)
#include "slot_names_test.moc"
