#pragma once
#include <QTableWidget>

// Key/value grid: one row per parameter, keyed by its name.
class TValueListEditor : public QTableWidget {
    Q_OBJECT
public:
    explicit TValueListEditor(QWidget* parent = nullptr);
    // The value of the row keyed by key; empty when there is no such row.
    QString Value(const QString& key) const;
};
