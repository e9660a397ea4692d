#include "message_box.h"

#include "base/window_thread.h"

#include <QMessageBox>

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

int showOnWindowThread(const ShownMessageBox& box)
{
    MessageBoxSeam seam;
    {
        std::lock_guard lock(seamMutex);
        seam = activeSeam;
    }
    if (seam)
        return seam(box);
    QMessageBox dialog(iconFor(box.style), box.caption, box.text, buttonsFor(box.style));
    dialog.setWindowModality(Qt::ApplicationModal);
    return answerFor(dialog.exec());
}

}  // namespace

int messageBox(const QString& text, int style, const QString& caption)
{
    const ShownMessageBox box{text, caption.isEmpty() ? QString::fromUtf8(kDefaultBoxCaption) : caption,
                              style};
    int answer = kAnswerCancel;
    runOnWindowThread([&] { answer = showOnWindowThread(box); });
    return answer;
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
