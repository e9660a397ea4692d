#include "window_definition.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QUiLoader>
#include <QWidget>

namespace qinghe {
namespace {

QHash<QString, ControlFactory>& controlKinds()
{
    static QHash<QString, ControlFactory> kinds;
    return kinds;
}

// The top-level entry of a definition is the existing window itself, so the
// window's own class keeps its handlers while the definition supplies the rest.
class DefinitionLoader : public QUiLoader {
public:
    explicit DefinitionLoader(QWidget* window) : window_(window)
    {
        // Every control kind beyond Qt's own is registered by its window;
        // the designer's plugins are neither needed nor loaded.
        clearPluginPaths();
    }

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override
    {
        if (parent == nullptr && !topLevelTaken_) {
            topLevelTaken_ = true;
            window_->setObjectName(name);
            return window_;
        }
        const auto kind = controlKinds().constFind(className);
        if (kind != controlKinds().constEnd()) {
            QWidget* control = (*kind)(parent);
            if (control != nullptr)
                control->setObjectName(name);
            return control;
        }
        return QUiLoader::createWidget(className, parent, name);
    }

private:
    QWidget* window_;
    bool topLevelTaken_ = false;
};

}  // namespace

void registerControlKind(const QString& className, ControlFactory factory)
{
    controlKinds().insert(className, std::move(factory));
}

bool loadWindowDefinition(QWidget* window, const QString& definitionPath)
{
    if (window == nullptr)
        return false;
    QFile file(definitionPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    DefinitionLoader loader(window);
    QWidget* loaded = loader.load(&file, nullptr);
    return loaded == window;
}

}  // namespace qinghe
