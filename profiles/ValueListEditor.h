#pragma once
#include <QColor>
#include <QStringList>
#include <QTableWidget>
#include <functional>

enum TEditStyle { esSimple, esEllipsis, esPickList };

// Row properties of a key/value grid row.
struct TItemProp {
    bool ReadOnly = false;          // blocks typing; a pick list can still be used
    TEditStyle EditStyle = esSimple;
    QStringList PickList;
};

// The colours a cell is painted with; a draw-cell handler may change them.
struct TCellLook {
    QColor text;
    QColor background;
};

// Key/value grid: one row per parameter, keyed by its name. The key column is fixed and
// not editable; the value column fills the rest. An empty grid still shows one blank row.
class TValueListEditor : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int KeyColumnWidth = 160;
    static constexpr int RowHeight = 17;  // plus the one-pixel grid line below each row
    static constexpr int GridLineWidth = 1;

    explicit TValueListEditor(QWidget* parent = nullptr);

    // The value of the first row keyed by key; empty when there is no such row.
    QString Value(const QString& key) const;
    // First row keyed by key, or -1.
    int FindRow(const QString& key) const;
    // Sets the value of the first row keyed by key; false when there is none.
    bool SetValue(const QString& key, const QString& value);

    int RowCount() const { return rowCount(); } // at least 1
    int EntryCount() const { return m_placeholder ? 0 : rowCount(); }
    QString Key(int row) const;
    QString ValueAt(int row) const;
    void SetValueAt(int row, const QString& value);

    // Appends a row and returns its position.
    int InsertRow(const QString& key, const QString& value);
    void DeleteRow(int row);
    // Deletes every row, from the last up.
    void Clear();

    TItemProp ItemProps(int row) const;
    void SetItemProps(int row, const TItemProp& props);

    int CurrentRow() const { return currentRow(); }
    void SetCurrentRow(int row);
    QString CurrentKey() const { return Key(currentRow()); }

    // The grid or its cell editor holds the keyboard focus.
    bool HasInputFocus() const;
    // Brings the row count up to date and repaints.
    void Refresh();

    // Called for every painted cell with its standard colours; may change them.
    std::function<void(int col, int row, TCellLook& look)> OnDrawCell;
    // The colours a cell gets before any draw-cell handler.
    TCellLook StandardLook(int col, int row) const;

Q_SIGNALS:
    // After any change of the rows or the values.
    void StringsChange();
    // A mouse button was pressed in the grid.
    void MouseDown(Qt::MouseButton button, const QPoint& pos);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    QTableWidgetItem* makeKeyItem(const QString& key) const;
    QTableWidgetItem* makeValueItem(const QString& value) const;
    void applyProps(int row, const TItemProp& props);
    bool nearColumnEdge(int x) const;

    bool m_placeholder = false; // the only row is the blank row of an empty grid
    bool m_silent = false;      // no change signal while rows are built
    bool m_sizing = false;      // the user drags the column edge
};
