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

void ReplaceWindow::onCreated()
{
    searchState().ignoreCase = true;
    auto* findBox = control<QLineEdit>("编辑框1");
    auto* replaceBox = control<QLineEdit>("编辑框2");
    const QList<QPushButton*> searchButtons{control<QPushButton>("按钮1"), control<QPushButton>("按钮2"),
                                            control<QPushButton>("按钮3")};
    for (QPushButton* button : searchButtons)
        button->setEnabled(false);
    // An edit here starts the next search from the top of the document.
    connect(findBox, &QLineEdit::textChanged, this, [searchButtons](const QString& text) {
        for (QPushButton* button : searchButtons)
            button->setEnabled(true);
        SearchState& state = searchState();
        state.lastFoundPos = 0;
        state.findText = fromQString(text);
    });
    connect(searchButtons[0], &QPushButton::clicked, this, [this, findBox] { editor_.findNext(findBox); });
    connect(searchButtons[1], &QPushButton::clicked, this,
            [this, findBox, replaceBox] { editor_.replaceNext(findBox, replaceBox); });
    connect(searchButtons[2], &QPushButton::clicked, this,
            [this, findBox, replaceBox] { editor_.replaceAll(findBox, replaceBox); });
    connect(control<QPushButton>("按钮4"), &QPushButton::clicked, this, &QWidget::close);
    new CaseSwitch(control<QCheckBox>("选择框1"), this);
}

}  // namespace qinghe
