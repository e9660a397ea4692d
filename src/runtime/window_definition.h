#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace qinghe {

// Makes a control of a kind the definition loader does not know by itself
// (a web view, the media player). Windows register their kinds before loading.
using ControlFactory = std::function<QWidget*(QWidget* parent)>;
void registerControlKind(const QString& className, ControlFactory factory);

// Builds the controls of a window definition (.ui) into an existing window.
// Control object names are the names of the definition. False when the
// definition cannot be read or does not describe a window.
bool loadWindowDefinition(QWidget* window, const QString& definitionPath);

}  // namespace qinghe
