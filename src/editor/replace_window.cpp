#include "replace_window.h"

#include "case_switch.h"
#include "editor_state.h"
#include "editor_window.h"

#include "text/gbk.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace qinghe {

ReplaceWindow::ReplaceWindow(EditorWindow& editor) : RuntimeWindow(&editor), editor_(editor) {}

void ReplaceWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.findBox, "编辑框1");
    binder.bind(controls_.replaceBox, "编辑框2");
    binder.bind(controls_.findNextButton, "按钮1");
    binder.bind(controls_.replaceButton, "按钮2");
    binder.bind(controls_.replaceAllButton, "按钮3");
    binder.bind(controls_.cancelButton, "按钮4");
    binder.bind(controls_.matchCase, "选择框1");
}

void ReplaceWindow::onCreated()
{
    searchState().ignoreCase = true;
    const Controls& c = controls_;
    const QList<QPushButton*> searchButtons{c.findNextButton, c.replaceButton, c.replaceAllButton};
    for (QPushButton* button : searchButtons)
        button->setEnabled(false);
    // An edit here starts the next search from the top of the document.
    connect(c.findBox, &QLineEdit::textChanged, this, [searchButtons](const QString& text) {
        for (QPushButton* button : searchButtons)
            button->setEnabled(true);
        SearchState& state = searchState();
        state.lastFoundPos = 0;
        state.findText = fromQString(text);
    });
    connect(c.findNextButton, &QPushButton::clicked, this, [this] { editor_.findNext(controls_.findBox); });
    connect(c.replaceButton, &QPushButton::clicked, this,
            [this] { editor_.replaceNext(controls_.findBox, controls_.replaceBox); });
    connect(c.replaceAllButton, &QPushButton::clicked, this,
            [this] { editor_.replaceAll(controls_.findBox, controls_.replaceBox); });
    connect(c.cancelButton, &QPushButton::clicked, this, &QWidget::close);
    new CaseSwitch(c.matchCase, this);
}

}  // namespace qinghe
