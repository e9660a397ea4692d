#include "message_box.h"

#include "base/window_thread.h"

#include <QApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QSpacerItem>

#include <mutex>

namespace qinghe {
namespace {

constexpr int kButtonMask = 0x0F;
constexpr int kIconMask = 0xF0;
constexpr int kIconQuestion = 0x20;
constexpr int kIconExclamation = 0x30;
constexpr int kIconInformation = 0x40;
constexpr int kButtonsYesNoCancel = 3;
constexpr int kButtonsYesNo = 4;
// A desktop's title bar spends about this much on the box's icon, its
// buttons and its margins beside the caption.
constexpr int kTitleBarAllowance = 160;
// Title bars commonly draw their caption this much larger than a window's text.
constexpr double kTitleFontGrowth = 1.25;

std::mutex seamMutex;
MessageBoxSeam activeSeam;

QMessageBox::StandardButtons buttonsFor(int style)
{
    switch (style & kButtonMask) {
    case kButtonsYesNo: return QMessageBox::Yes | QMessageBox::No;
    case kButtonsYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

QMessageBox::Icon iconFor(int style)
{
    switch (style & kIconMask) {
    case kIconQuestion: return QMessageBox::Question;
    case kIconExclamation: return QMessageBox::Warning;
    case kIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

int answerFor(int button)
{
    switch (button) {
    case QMessageBox::Yes: return kAnswerYes;
    case QMessageBox::No: return kAnswerNo;
    case QMessageBox::Cancel: return kAnswerCancel;
    default: return kAnswerOk;
    }
}

ShownMessageBox boxOf(const QString& text, int style, const QString& caption, bool holdsProgram)
{
    return {text, caption.isEmpty() ? QString::fromUtf8(kDefaultBoxCaption) : caption, style, holdsProgram};
}

// The box is made wide enough for the desktop to draw its caption whole.
QMessageBox* makeBox(const ShownMessageBox& box, QWidget* over)
{
    auto* dialog = new QMessageBox(iconFor(box.style), box.caption, box.text, buttonsFor(box.style), over);
    if ((box.style & kBoxSecondButtonDefault) != 0 && (box.style & kButtonMask) == kButtonsYesNo)
        dialog->setDefaultButton(QMessageBox::No);
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    if (titleFont.pointSizeF() > 0)
        titleFont.setPointSizeF(titleFont.pointSizeF() * kTitleFontGrowth);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(box.caption) + kTitleBarAllowance;
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout()))
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                      grid->columnCount());
    return dialog;
}

// Shows the box and serves every event until it is answered or its window goes.
int waitForAnswer(QMessageBox* dialog, Qt::WindowModality modality)
{
    const QPointer<QMessageBox> box = dialog;
    dialog->setWindowModality(modality);
    QEventLoop loop;
    QObject::connect(dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    dialog->show();
    // A box that asks takes the keys at once, modal or not, as the host
    // expects of a box that has just come up.
    dialog->raise();
    dialog->activateWindow();
    loop.exec();
    if (box == nullptr)
        return kAnswerCancel;
    const int answer = answerFor(box->result());
    delete box.data();
    return answer;
}

}  // namespace

int messageBox(const QString& text, int style, const QString& caption)
{
    const ShownMessageBox box = boxOf(text, style, caption, true);
    int answer = kAnswerCancel;
    runOnWindowThread([&] {
        if (const MessageBoxSeam seam = messageBoxSeam())
            answer = seam(box);
        else
            answer = waitForAnswer(makeBox(box, nullptr), Qt::ApplicationModal);
    });
    return answer;
}

int backgroundMessageBox(const QString& text, int style, QWidget* over)
{
    const ShownMessageBox box = boxOf(text, style, {}, false);
    if (const MessageBoxSeam seam = messageBoxSeam())
        return seam(box);
    return waitForAnswer(makeBox(box, over), over != nullptr ? Qt::WindowModal : Qt::NonModal);
}

MessageBoxSeam messageBoxSeam()
{
    std::lock_guard lock(seamMutex);
    return activeSeam;
}

void setMessageBoxSeam(MessageBoxSeam seam)
{
    std::lock_guard lock(seamMutex);
    activeSeam = std::move(seam);
}

int fatalRuntimeError(const QString& message, int errorCode)
{
    QString text = QStringLiteral("运行时出错!\n\n");
    if (errorCode != 0)
        text += QStringLiteral("错误代码：%1\n\n").arg(errorCode);
    if (!message.isEmpty())
        text += QStringLiteral("错误信息：%1\n").arg(message);
    messageBox(text);
    return -1;
}

}  // namespace qinghe
