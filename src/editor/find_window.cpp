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

void FindWindow::onCreated()
{
    searchState().ignoreCase = true;
    auto* box = control<QLineEdit>("编辑框1");
    auto* findButton = control<QPushButton>("按钮1");
    findButton->setEnabled(!box->text().isEmpty());
    // An edit here changes what is searched but not where the search goes on from.
    connect(box, &QLineEdit::textChanged, this, [findButton](const QString& text) {
        findButton->setEnabled(true);
        searchState().findText = fromQString(text);
    });
    connect(findButton, &QPushButton::clicked, this, [this, box] { editor_.findNext(box); });
    connect(control<QPushButton>("按钮2"), &QPushButton::clicked, this, &QWidget::close);
    new CaseSwitch(control<QCheckBox>("选择框1"), this);
}

}  // namespace qinghe
