#include "profiles/ValueListEditor.h"
#include "profiles/ProfileFormat.h"
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

constexpr int kReadOnlyRole = Qt::UserRole + 1;  // value item: read-only mark
constexpr int kStyleRole = Qt::UserRole + 2;  // value item: edit style
constexpr int kPickRole = Qt::UserRole + 3;   // value item: pick list
constexpr int kTextIndent = 3;
constexpr const char* kPickedProperty = "vtPicked";

// Paints cells in the colours the grid (and its draw-cell handler) decide, and edits a
// row with a line field, or with a drop-down of its items for a pick-list row.
class ValueListDelegate : public QStyledItemDelegate {
public:
    explicit ValueListDelegate(TValueListEditor* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        TCellLook look = m_grid->StandardLook(index.column(), index.row());
        if (m_grid->OnDrawCell)
            m_grid->OnDrawCell(index.column(), index.row(), look);
        p->save();
        p->fillRect(option.rect, look.background);
        p->setPen(look.text);
        p->setFont(option.font);
        const QRect r = option.rect.adjusted(kTextIndent, 0, -kTextIndent, 0);
        const QString text = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                           r.width());
        p->drawText(r, Qt::AlignLeft | Qt::AlignVCenter, text);
        p->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        if (index.column() != 1)
            return nullptr;
        const TItemProp props = m_grid->ItemProps(index.row());
        if (props.EditStyle == esPickList) {
            // Picking only: the read-only mark blocks typing, never the choice.
            auto* box = new QComboBox(parent);
            box->setEditable(false);
            box->addItems(props.PickList);
            box->setFocusPolicy(Qt::StrongFocus);
            box->installEventFilter(const_cast<ValueListDelegate*>(this));
            connect(box, &QComboBox::activated, this, [this, box](int) {
                box->setProperty(kPickedProperty, true);
                const_cast<ValueListDelegate*>(this)->commitData(box);
            });
            return box;
        }
        if (props.ReadOnly)
            return nullptr;
        auto* edit = new QLineEdit(parent);
        edit->setFrame(false);
        return edit;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        const QString text = index.data(Qt::EditRole).toString();
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            const int i = FindItem(m_grid->ItemProps(index.row()).PickList, text);
            box->setCurrentIndex(i);
            // A text that is no item (a custom size) still shows.
            box->setPlaceholderText(i < 0 ? text : QString());
            return;
        }
        if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            if (edit->text() != text)
                edit->setText(text);
        }
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            // Only a choice of the user counts: leaving the cell must not write the box's
            // text back over a value set meanwhile (a custom size).
            if (!box->property(kPickedProperty).toBool())
                return;
            box->setProperty(kPickedProperty, false);
            if (box->currentIndex() >= 0 && box->currentText() != index.data(Qt::EditRole).toString())
                model->setData(index, box->currentText(), Qt::EditRole);
            return;
        }
        if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            if (edit->text() != index.data(Qt::EditRole).toString())
                model->setData(index, edit->text(), Qt::EditRole);
        }
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        editor->setGeometry(option.rect);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (qobject_cast<QComboBox*>(watched)) {
            // The wheel scrolls the dialog; it must not change a choice by accident.
            if (e->type() == QEvent::Wheel) {
                e->ignore();
                return true;
            }
            if (e->type() == QEvent::KeyPress) {
                auto* k = static_cast<QKeyEvent*>(e);
                // Up and Down move between rows, as in the rest of the grid; Alt+Down,
                // F4 or a click opens the list.
                if ((k->key() == Qt::Key_Up || k->key() == Qt::Key_Down) && !(k->modifiers() & Qt::AltModifier)) {
                    const int row = m_grid->currentRow() + (k->key() == Qt::Key_Up ? -1 : 1);
                    if (row >= 0 && row < m_grid->rowCount())
                        m_grid->setCurrentCell(row, 1);
                    return true;
                }
                // No typing in a pick list: letters would pick items behind the user's back.
                if (!k->text().isEmpty() && k->text().at(0).isPrint() && k->key() != Qt::Key_Space)
                    return true;
            }
        }
        return QStyledItemDelegate::eventFilter(watched, e);
    }

private:
    TValueListEditor* m_grid;
};

} // namespace

TValueListEditor::TValueListEditor(QWidget* parent) : QTableWidget(parent)
{
    setColumnCount(2);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(8);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSectionResizeMode(0, QHeaderView::Interactive);
    setColumnWidth(0, KeyColumnWidth);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(RowHeight + GridLineWidth);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setTabKeyNavigation(false);
    // The editor of the current value cell is always at hand, as in a property sheet.
    setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::SelectedClicked
                    | QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::AnyKeyPressed);
    setItemDelegate(new ValueListDelegate(this));
    viewport()->setMouseTracking(true);

    // An empty grid shows one blank row.
    m_silent = true;
    insertRow(0);
    setItem(0, 0, makeKeyItem(QString()));
    setItem(0, 1, makeValueItem(QString()));
    item(0, 1)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    m_placeholder = true;
    m_silent = false;

    connect(this, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* it) {
        if (!m_silent && it && it->column() == 1)
            emit StringsChange();
    });
    // The key column is never the current cell: the row's value is.
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (current.isValid() && current.column() == 0)
                    setCurrentCell(current.row(), 1);
                viewport()->update();
            });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if ((old && (old == this || isAncestorOf(old))) || (now && (now == this || isAncestorOf(now))))
            viewport()->update();
    });
}

QTableWidgetItem* TValueListEditor::makeKeyItem(const QString& key) const
{
    auto* it = new QTableWidgetItem(key);
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return it;
}

QTableWidgetItem* TValueListEditor::makeValueItem(const QString& value) const
{
    auto* it = new QTableWidgetItem(value);
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
    it->setData(kReadOnlyRole, false);
    it->setData(kStyleRole, int(esSimple));
    it->setData(kPickRole, QStringList());
    return it;
}

QString TValueListEditor::Key(int row) const
{
    if (row < 0 || row >= rowCount() || m_placeholder)
        return QString();
    const QTableWidgetItem* it = item(row, 0);
    return it ? it->text() : QString();
}

QString TValueListEditor::ValueAt(int row) const
{
    if (row < 0 || row >= rowCount() || m_placeholder)
        return QString();
    const QTableWidgetItem* it = item(row, 1);
    return it ? it->text() : QString();
}

int TValueListEditor::FindRow(const QString& key) const
{
    if (m_placeholder)
        return -1;
    for (int r = 0; r < rowCount(); ++r)
        if (Key(r) == key)
            return r;
    return -1;
}

QString TValueListEditor::Value(const QString& key) const
{
    return ValueAt(FindRow(key));
}

void TValueListEditor::SetValueAt(int row, const QString& value)
{
    if (row < 0 || row >= rowCount() || m_placeholder)
        return;
    // itemChanged reports the change; an open editor of the cell is brought up to date.
    item(row, 1)->setText(value);
}

bool TValueListEditor::SetValue(const QString& key, const QString& value)
{
    const int row = FindRow(key);
    if (row < 0)
        return false;
    SetValueAt(row, value);
    return true;
}

int TValueListEditor::InsertRow(const QString& key, const QString& value)
{
    m_silent = true;
    int row;
    if (m_placeholder) {
        row = 0;
        m_placeholder = false;
        setItem(0, 0, makeKeyItem(key));
        setItem(0, 1, makeValueItem(value));
    } else {
        row = rowCount();
        insertRow(row);
        setItem(row, 0, makeKeyItem(key));
        setItem(row, 1, makeValueItem(value));
    }
    m_silent = false;
    emit StringsChange();
    return row;
}

void TValueListEditor::DeleteRow(int row)
{
    if (row < 0 || row >= rowCount() || m_placeholder)
        return;
    m_silent = true;
    if (rowCount() == 1) {
        // The last row goes: the blank row of an empty grid stays.
        setItem(0, 0, makeKeyItem(QString()));
        setItem(0, 1, makeValueItem(QString()));
        item(0, 1)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        m_placeholder = true;
    } else {
        removeRow(row);
    }
    m_silent = false;
    emit StringsChange();
}

void TValueListEditor::Clear()
{
    for (int r = rowCount() - 1; r >= 0; --r)
        DeleteRow(r);
}

TItemProp TValueListEditor::ItemProps(int row) const
{
    TItemProp props;
    if (row < 0 || row >= rowCount() || m_placeholder)
        return props;
    const QTableWidgetItem* it = item(row, 1);
    if (!it)
        return props;
    props.ReadOnly = it->data(kReadOnlyRole).toBool();
    props.EditStyle = TEditStyle(it->data(kStyleRole).toInt());
    props.PickList = it->data(kPickRole).toStringList();
    return props;
}

void TValueListEditor::SetItemProps(int row, const TItemProp& props)
{
    if (row < 0 || row >= rowCount() || m_placeholder)
        return;
    applyProps(row, props);
}

void TValueListEditor::applyProps(int row, const TItemProp& props)
{
    QTableWidgetItem* it = item(row, 1);
    if (!it)
        return;
    m_silent = true;
    it->setData(kReadOnlyRole, props.ReadOnly);
    it->setData(kStyleRole, int(props.EditStyle));
    it->setData(kPickRole, props.PickList);
    // A read-only text row has no editor at all; a pick list is chosen from, never typed.
    const bool editable = props.EditStyle == esPickList || !props.ReadOnly;
    it->setFlags(editable ? (Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable)
                          : (Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    m_silent = false;
}

void TValueListEditor::SetCurrentRow(int row)
{
    if (row >= 0 && row < rowCount())
        setCurrentCell(row, 1);
}

bool TValueListEditor::HasInputFocus() const
{
    const QWidget* f = QApplication::focusWidget();
    return f && (f == this || isAncestorOf(f));
}

void TValueListEditor::Refresh()
{
    updateGeometries();
    viewport()->update();
}

TCellLook TValueListEditor::StandardLook(int col, int row) const
{
    const QPalette& pal = palette();
    if (col == 0)
        return {pal.color(QPalette::WindowText), pal.color(QPalette::Button)};
    if (row == currentRow() && currentColumn() == 1 && HasInputFocus())
        return {pal.color(QPalette::HighlightedText), pal.color(QPalette::Highlight)};
    return {pal.color(QPalette::Text), pal.color(QPalette::Base)};
}

bool TValueListEditor::nearColumnEdge(int x) const
{
    return qAbs(x - columnViewportPosition(1)) <= 2;
}

void TValueListEditor::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && nearColumnEdge(e->position().toPoint().x())) {
        m_sizing = true;
        emit MouseDown(e->button(), e->position().toPoint());
        return;
    }
    QTableWidget::mousePressEvent(e);
    emit MouseDown(e->button(), e->position().toPoint());
}

void TValueListEditor::mouseMoveEvent(QMouseEvent* e)
{
    const int x = e->position().toPoint().x();
    if (m_sizing) {
        // The key column stays visible, and so does some of the value column.
        setColumnWidth(0, qBound(8, x, qMax(8, viewport()->width() - 8)));
        return;
    }
    viewport()->setCursor(nearColumnEdge(x) ? Qt::SplitHCursor : Qt::ArrowCursor);
    QTableWidget::mouseMoveEvent(e);
}

void TValueListEditor::mouseReleaseEvent(QMouseEvent* e)
{
    if (m_sizing) {
        m_sizing = false;
        return;
    }
    QTableWidget::mouseReleaseEvent(e);
}

void TValueListEditor::focusInEvent(QFocusEvent* e)
{
    QTableWidget::focusInEvent(e);
    viewport()->update();
}

void TValueListEditor::focusOutEvent(QFocusEvent* e)
{
    QTableWidget::focusOutEvent(e);
    viewport()->update();
}
