#include "program_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace qinghe {
namespace {

// Qt's catalogue of its widgets' and dialogs' texts, in Chinese as spoken in China.
constexpr const char* kQtChineseCatalogue = "qtbase_zh_CN";

}  // namespace

bool loadQtChineseTexts()
{
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QString::fromLatin1(kQtChineseCatalogue),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace qinghe
