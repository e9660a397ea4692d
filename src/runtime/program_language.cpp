#include "program_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace qinghe {
namespace {

// Qt's catalogue of its widgets' and dialogs' texts, in Chinese as spoken in China.
constexpr const char* kQtChineseCatalogue = "qtbase_zh_CN";

// Qt's own texts the program words otherwise than Qt's catalogue does.
struct OwnWord {
    const char* context;
    const char* source;
    const char* ours;
};
constexpr OwnWord kOwnWords[] = {
    // An empty key field asks for keys; the catalogue's "按快捷方式" reads oddly.
    {"QKeySequenceEdit", "Press shortcut", "按下按键…"},
    // The file dialog's type column: the catalogue still has these under the
    // class Qt 6 took them from, so without them a folder reads "Folder".
    {"QAbstractFileIconProvider", "Folder", "文件夹"},
    {"QAbstractFileIconProvider", "Drive", "驱动器"},
    {"QAbstractFileIconProvider", "File", "文件"},
    {"QAbstractFileIconProvider", "%1 File", "%1 文件"},
};

// Asked before Qt's catalogue; what it does not know, the catalogue answers.
class OwnWords : public QTranslator {
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* source, const char*, int) const override
    {
        for (const OwnWord& word : kOwnWords) {
            if (qstrcmp(context, word.context) == 0 && qstrcmp(source, word.source) == 0)
                return QString::fromUtf8(word.ours);
        }
        return {};
    }
};

}  // namespace

bool loadQtChineseTexts()
{
    // Dates, numbers and file types in Qt's widgets follow the default
    // locale, not the translations: the file dialog's dates among them.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    auto* translator = new QTranslator(QCoreApplication::instance());
    const bool loaded =
        translator->load(QString::fromLatin1(kQtChineseCatalogue), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (loaded)
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
    // The last one installed is asked first.
    QCoreApplication::installTranslator(new OwnWords(QCoreApplication::instance()));
    return loaded;
}

}  // namespace qinghe
