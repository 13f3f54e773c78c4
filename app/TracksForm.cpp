#include "app/TracksForm.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Tracks a user picks from; attachments go with the file, whatever is chosen.
bool Choosable(const Track& t)
{
    return t.kind != QLatin1Char('t');
}

QString KindName(const Track& t)
{
    switch (t.kind.unicode()) {
    case 'v':
        return t.attachedPicture ? QStringLiteral("Cover") : QStringLiteral("Video");
    case 'a':
        return QStringLiteral("Sound");
    case 's':
        return QStringLiteral("Subtitle");
    default:
        return QStringLiteral("Data");
    }
}

QString Flags(const Track& t)
{
    QStringList f;
    if (t.isDefault)
        f << QStringLiteral("default");
    if (t.forced)
        f << QStringLiteral("forced");
    return f.join(QStringLiteral(", "));
}

} // namespace

QString TracksCaption(const TrackList& list, const QList<int>& dropped)
{
    int all = 0, kept = 0;
    for (const Track& t : list.tracks) {
        if (!Choosable(t))
            continue;
        ++all;
        if (!dropped.contains(t.index))
            ++kept;
    }
    return kept == all ? QStringLiteral("Tracks: all") : QStringLiteral("Tracks: %1 of %2").arg(kept).arg(all);
}

TTracksForm::TTracksForm(const QString& sourceName, const TrackList& list, const QList<int>& dropped, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TracksForm"));
    setWindowTitle(QStringLiteral("Tracks"));
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(QStringLiteral("The tracks of %1 the cuts keep:").arg(sourceName), this);
    caption->setWordWrap(true);
    layout->addWidget(caption);

    lvTracks = new QTreeWidget(this);
    lvTracks->setObjectName(QStringLiteral("lvTracks"));
    lvTracks->setAccessibleName(QStringLiteral("Tracks"));
    lvTracks->setRootIsDecorated(false);
    lvTracks->setHeaderLabels({QStringLiteral("Track"), QStringLiteral("Kind"), QStringLiteral("Codec"),
                               QStringLiteral("Language"), QStringLiteral("Title"), QStringLiteral("Channels"),
                               QStringLiteral("Flags")});
    caption->setBuddy(lvTracks);
    for (const Track& t : list.tracks) {
        if (!Choosable(t))
            continue;
        auto* item = new QTreeWidgetItem(lvTracks, {t.Name(), KindName(t), t.codec, t.language, t.title,
                                                    t.channels > 0 ? QString::number(t.channels) : QString(),
                                                    Flags(t)});
        item->setData(0, Qt::UserRole, t.index);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, dropped.contains(t.index) ? Qt::Unchecked : Qt::Checked);
    }
    for (int c = 0; c < lvTracks->columnCount(); ++c)
        lvTracks->resizeColumnToContents(c);
    if (lvTracks->topLevelItemCount() > 0)
        lvTracks->setCurrentItem(lvTracks->topLevelItem(0));
    layout->addWidget(lvTracks);

    const int attachments = list.Count(QLatin1Char('t'));
    if (attachments > 0 || !list.chapters.isEmpty()) {
        auto* follow = new QLabel(QStringLiteral("Chapters inside the range and attached files (fonts) always go with them."), this);
        follow->setWordWrap(true);
        layout->addWidget(follow);
    }

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lvTracks, &QTreeWidget::itemChanged, this, &TTracksForm::UpdateOk);
    UpdateOk();
    resize(std::max(480, lvTracks->header()->length() + 40), sizeHint().height());
}

QList<int> TTracksForm::Dropped() const
{
    QList<int> dropped;
    for (int i = 0; i < lvTracks->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lvTracks->topLevelItem(i);
        if (item->checkState(0) != Qt::Checked)
            dropped << item->data(0, Qt::UserRole).toInt();
    }
    return dropped;
}

void TTracksForm::UpdateOk()
{
    // A cut of no track at all would write an empty file.
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(Dropped().size() < lvTracks->topLevelItemCount());
}
