#include "dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDialog>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace qinghe {
namespace {

// The file list's date column of the dialog Qt draws itself: Qt writes it in
// the desktop's locale, so an English desktop shows English dates amid
// Chinese words; this writes them in the program's own.
class ProgramLocaleDates : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        constexpr int kDateColumn = 3;
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files != nullptr && index.column() == kDateColumn && role == Qt::DisplayRole)
            return QLocale().toString(files->lastModified(mapToSource(index)), QLocale::ShortFormat);
        return QIdentityProxyModel::data(index, role);
    }
};

// Room a window manager's title bar takes beside the title: icon and buttons.
constexpr int kTitleBarAllowance = 160;

std::function<QString(const FileDialogRequest&)>& fileSeam()
{
    static std::function<QString(const FileDialogRequest&)> seam;
    return seam;
}

std::function<InputBoxAnswer(const InputBoxRequest&)>& inputSeam()
{
    static std::function<InputBoxAnswer(const InputBoxRequest&)> seam;
    return seam;
}

std::function<FontChoice(const QFont&, const QColor&)>& fontSeam()
{
    static std::function<FontChoice(const QFont&, const QColor&)> seam;
    return seam;
}

std::function<bool(QPrinter&)>& printSeam()
{
    static std::function<bool(QPrinter&)> seam;
    return seam;
}

}  // namespace

QString askFileName(const FileDialogRequest& request)
{
    if (fileSeam())
        return fileSeam()(request);
    QFileDialog dialog(nullptr, request.title, request.initialPath, request.filter);
    if (request.kind == FileDialogRequest::Kind::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    dialog.setProxyModel(new ProgramLocaleDates(&dialog));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

void setFileDialogSeam(std::function<QString(const FileDialogRequest&)> seam)
{
    fileSeam() = std::move(seam);
}

InputBoxAnswer askInput(const InputBoxRequest& request)
{
    if (inputSeam())
        return inputSeam()(request);
    QInputDialog dialog;
    dialog.setWindowTitle(request.title);
    // A box as narrow as its prompt would cut its title.
    QFont titleFont = dialog.font();
    titleFont.setBold(true);
    dialog.setMinimumWidth(QFontMetrics(titleFont).horizontalAdvance(request.title) + kTitleBarAllowance);
    dialog.setLabelText(request.prompt);
    dialog.setOkButtonText(request.okText);
    dialog.setCancelButtonText(request.cancelText);
    dialog.setTextValue(request.initialText);
    dialog.setWindowModality(Qt::ApplicationModal);
    InputBoxAnswer answer;
    answer.confirmed = dialog.exec() == QDialog::Accepted;
    if (answer.confirmed)
        answer.text = dialog.textValue();
    return answer;
}

void setInputBoxSeam(std::function<InputBoxAnswer(const InputBoxRequest&)> seam)
{
    inputSeam() = std::move(seam);
}

FontChoice askFont(const QFont& current, const QColor& currentColor)
{
    if (fontSeam())
        return fontSeam()(current, currentColor);
    FontChoice choice;
    choice.font = QFontDialog::getFont(&choice.chosen, current);
    choice.color = currentColor;
    if (choice.chosen) {
        // The colour belongs to the same choice; cancelling it keeps the old colour.
        const QColor picked = QColorDialog::getColor(currentColor);
        if (picked.isValid())
            choice.color = picked;
    }
    return choice;
}

void setFontDialogSeam(std::function<FontChoice(const QFont&, const QColor&)> seam)
{
    fontSeam() = std::move(seam);
}

bool askPrintSettings(QPrinter& printer)
{
    if (printSeam())
        return printSeam()(printer);
    QPrintDialog dialog(&printer);
    return dialog.exec() == QDialog::Accepted;
}

void setPrintDialogSeam(std::function<bool(QPrinter&)> seam)
{
    printSeam() = std::move(seam);
}

}  // namespace qinghe
