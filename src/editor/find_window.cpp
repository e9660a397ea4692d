#include "find_window.h"

#include "case_switch.h"
#include "editor_state.h"
#include "editor_window.h"

#include "text/gbk.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace qinghe {

FindWindow::FindWindow(EditorWindow& editor) : RuntimeWindow(&editor), editor_(editor) {}

void FindWindow::bindControls(ControlBinder& binder)
{
    binder.bind(controls_.findBox, "编辑框1");
    binder.bind(controls_.findNextButton, "按钮1");
    binder.bind(controls_.cancelButton, "按钮2");
    binder.bind(controls_.matchCase, "选择框1");
}

void FindWindow::onCreated()
{
    searchState().ignoreCase = true;
    QLineEdit* box = controls_.findBox;
    QPushButton* findButton = controls_.findNextButton;
    findButton->setEnabled(!box->text().isEmpty());
    // An edit here changes what is searched but not where the search goes on from.
    connect(box, &QLineEdit::textChanged, this, [findButton](const QString& text) {
        findButton->setEnabled(true);
        searchState().findText = fromQString(text);
    });
    connect(findButton, &QPushButton::clicked, this, [this, box] { editor_.findNext(box); });
    connect(controls_.cancelButton, &QPushButton::clicked, this, &QWidget::close);
    new CaseSwitch(controls_.matchCase, this);
}

}  // namespace qinghe
