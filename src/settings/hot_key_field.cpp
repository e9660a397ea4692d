#include "hot_key_field.h"

#include "runtime/message_box.h"

#include <QEvent>
#include <QKeyEvent>
#include <QKeySequenceEdit>

namespace qinghe {
namespace {

// Set on a field while the combination it records began on the keypad.
constexpr const char* kKeypadProperty = "qingheKeypadKey";

bool isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
           key == Qt::Key_AltGr || key == Qt::Key_Super_L || key == Qt::Key_Super_R;
}

// The field drops the keypad's mark from what it records; this notes it
// for the first key of each recording, the only one the program uses.
class KeypadWatch : public QObject {
public:
    explicit KeypadWatch(QKeySequenceEdit* field) : QObject(field)
    {
        connect(field, &QKeySequenceEdit::editingFinished, this, [this] { recording_ = false; });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && !recording_) {
            const auto* press = static_cast<QKeyEvent*>(event);
            if (!isModifierKey(press->key())) {
                recording_ = true;
                watched->setProperty(kKeypadProperty, bool(press->modifiers() & Qt::KeypadModifier));
            }
        }
        return false;
    }

private:
    bool recording_ = false;
};

}  // namespace

QString hotKeySoundName(int action, const SlotCaption& slotCaption)
{
    if (action >= 0 && action < kHotKeySlotCount && slotCaption) {
        const QString caption = slotCaption(action + 1);
        if (!caption.isEmpty())
            return caption;
    }
    return hotKeyName(action);
}

void watchKeypad(QKeySequenceEdit* field)
{
    field->installEventFilter(new KeypadWatch(field));
}

PressedKey pressedKey(const QKeySequenceEdit* field)
{
    QKeyCombination first = field->keySequence()[0];
    if (field->property(kKeypadProperty).toBool())
        first = QKeyCombination(first.keyboardModifiers() | Qt::KeypadModifier, first.key());
    const QKeySequence key(first);
    return {key.toString(QKeySequence::PortableText), key.toString(QKeySequence::NativeText)};
}

HotKeyChange changeHotKeyAsking(GlobalHotKeys& hotKeys, const QString& iniPath, int action, const QString& keyText,
                                const QString& shownKey, const SlotCaption& slotCaption)
{
    HotKeyQuestions ask;
    ask.soundName = [&slotCaption](int named) { return hotKeySoundName(named, slotCaption); };
    ask.confirm = [](const QString& question) { return messageBox(question, kBoxYesNoQuestion) == kAnswerYes; };
    const HotKeyChange change = changeHotKey(hotKeys, iniPath, action, keyText, shownKey, ask);
    if (!change.message.isEmpty())
        messageBox(change.message);
    return change;
}

}  // namespace qinghe
