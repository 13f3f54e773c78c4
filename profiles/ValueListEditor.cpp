#include "profiles/ValueListEditor.h"
TValueListEditor::TValueListEditor(QWidget* parent) : QTableWidget(parent) {}
QString TValueListEditor::Value(const QString&) const { return {}; }
