#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <functional>

class QPrinter;

namespace qinghe {

// The standard dialogs, each behind one seam: what a person answers there,
// tests answer instead. An empty seam restores the real dialog.

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString title;        // empty: the dialog's own title
    QString filter;       // empty: every file
    QString initialPath;  // pre-filled file name or folder
};
// The chosen file's native path; empty when cancelled.
QString askFileName(const FileDialogRequest& request);
void setFileDialogSeam(std::function<QString(const FileDialogRequest&)> seam);

struct InputBoxRequest {
    QString title;
    QString prompt;
    QString okText;
    QString cancelText;
    QString initialText;  // what the edit field holds when the box opens
};
struct InputBoxAnswer {
    bool confirmed = false;
    QString text;
};
InputBoxAnswer askInput(const InputBoxRequest& request);
void setInputBoxSeam(std::function<InputBoxAnswer(const InputBoxRequest&)> seam);

struct FontChoice {
    bool chosen = false;
    QFont font;
    QColor color;
};
FontChoice askFont(const QFont& current, const QColor& currentColor);
void setFontDialogSeam(std::function<FontChoice(const QFont&, const QColor&)> seam);

// Lets the person pick the printer and its settings; false when cancelled.
bool askPrintSettings(QPrinter& printer);
void setPrintDialogSeam(std::function<bool(QPrinter&)> seam);

}  // namespace qinghe
