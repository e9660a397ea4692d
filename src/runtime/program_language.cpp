#include "program_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
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
