#include "dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace qinghe {
namespace {

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
    if (request.kind == FileDialogRequest::Kind::Save)
        return QFileDialog::getSaveFileName(nullptr, request.title, request.initialPath, request.filter);
    return QFileDialog::getOpenFileName(nullptr, request.title, request.initialPath, request.filter);
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
