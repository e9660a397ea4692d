#include "printing.h"

#include "editor_state.h"
#include "runtime/dialogs.h"
#include "runtime/message_box.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPrinter>

namespace qinghe {
namespace {

constexpr const char* kA4OnlyNotice = "目前版本只支持A4纸张打印!";
// The name a print job carries when nothing else names it.
constexpr const char* kJobName = "未命名打印作业";
// Space left between two printed lines, in device pixels.
constexpr int kLineGap = 2;
// An empty line is as tall as this letter.
constexpr const char* kEmptyLineStandIn = "W";

// Draws the lines from the top of the printable area, starting a new page
// when a line would pass its bottom; false when a new page cannot be had.
bool writeTextLines(QPainter& painter, QPrinter& printer, const std::vector<Text>& lines)
{
    const QFontMetrics metrics = painter.fontMetrics();
    const int pageHeight = printer.pageRect(QPrinter::DevicePixel).toRect().height();
    int y = 0;
    for (const Text& line : lines) {
        const QString shown = toQString(line);
        const QString measured = shown.isEmpty() ? QString::fromLatin1(kEmptyLineStandIn) : shown;
        const int height = metrics.size(Qt::TextSingleLine, measured).height();
        if (y > 0 && y + height > pageHeight) {
            if (!printer.newPage())
                return false;
            y = 0;
        }
        // Lines are not wrapped: what passes the page edge is cut off there.
        painter.drawText(0, y + metrics.ascent(), shown);
        y += height + kLineGap;
        QCoreApplication::processEvents();
    }
    return true;
}

}  // namespace

std::vector<Text> printLines(std::string_view text)
{
    std::vector<Text> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find_first_of("\r\n", start);
        if (at == std::string_view::npos)
            break;
        lines.emplace_back(text.substr(start, at - start));
        start = at + 1;
        if (text[at] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    lines.emplace_back(text.substr(start));
    return lines;
}

void printDocument(const Text& document)
{
    messageBox(QString::fromUtf8(kA4OnlyNotice), kBoxOkInformation, QString::fromUtf8(kNotepadCaption));
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setDocName(QString::fromUtf8(kJobName));
    if (!askPrintSettings(printer))
        return;
    const std::vector<Text> lines = printLines(document);
    QPainter painter;
    if (!painter.begin(&printer))
        return;
    if (!writeTextLines(painter, printer, lines))
        printer.abort();
    painter.end();
}

}  // namespace qinghe
