#include "about/AboutForm.h"
#include "about/ProgramInfo.h"
#include "app/ImageControl.h"
#include "app/WindowHelpers.h"
#include "app/Shell.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QHideEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>

namespace {

const QSize kDialogSize(420, 300);
const QString kBackground = QStringLiteral(":/images/about_bg.png");
const QString kCopyrightPrefix = QStringLiteral("Copyright \u00A9 ");

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text = QString())
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    return label;
}

// A label that opens something when clicked: blue, with the hand cursor.
TImage* MakeLink(QWidget* parent, const char* name, const QRect& geometry, bool underline)
{
    auto* link = new TImage(parent);
    link->setObjectName(QLatin1String(name));
    link->setGeometry(geometry);
    link->setCursor(Qt::PointingHandCursor);
    QPalette pal = link->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    link->setPalette(pal);
    QFont f = link->font();
    f.setUnderline(underline);
    link->setFont(f);
    return link;
}

} // namespace

TAboutForm::TAboutForm(const QString& versionText, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint),
      VersionText(versionText)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(kDialogSize);
    m_background = QPixmap(kBackground);

    // The texts stand in the light left part of the picture; the emblem fills the right.
    labProgramName = MakeLabel(this, "labProgramName", QRect(16, 20, 204, 36));
    labProgramName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont title = labProgramName->font();
    title.setPointSize(20);
    title.setBold(true);
    title.setItalic(true);
    labProgramName->setFont(title);

    labVersion = MakeLabel(this, "labVersion", QRect(16, 58, 204, 18));
    labVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labCopyright = MakeLabel(this, "labCopyright", QRect(18, 90, 210, 18));
    labRightsReserved = MakeLabel(this, "labRightsReserved", QRect(18, 108, 210, 18),
                                  QStringLiteral("All rights reserved."));
    labVisitWebsite = MakeLabel(this, "labVisitWebsite", QRect(18, 134, 210, 18), QStringLiteral("Visit our website"));
    labWebsite = MakeLink(this, "labWebsite", QRect(18, 152, 210, 18), true);
    Label7 = MakeLabel(this, "Label7", QRect(18, 180, 210, 18), QStringLiteral("More video converting softwares"));
    labMore = MakeLink(this, "labMore", QRect(20, 180, 60, 18), false);
    labMore->setText(QStringLiteral("(More)"));
    Label8 = MakeLink(this, "Label8", QRect(32, 199, 194, 18), false);
    Label9 = MakeLink(this, "Label9", QRect(32, 217, 194, 18), false);
    Label10 = MakeLink(this, "Label10", QRect(32, 235, 194, 18), false);

    // "(More)" follows its caption on the same line, wherever the caption ends.
    const int captionWidth = QFontMetrics(Label7->font()).horizontalAdvance(Label7->text());
    Label7->resize(captionWidth + 2, Label7->height());
    labMore->move(Label7->x() + captionWidth + 6, Label7->y());
    labMore->resize(QFontMetrics(labMore->font()).horizontalAdvance(labMore->text()) + 4, labMore->height());

    btnOK = new QPushButton(QStringLiteral("&OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(280, 218, 80, 26);
    btnOK->setDefault(true);

    connect(btnOK, &QPushButton::clicked, this, &TAboutForm::btnOKClick);
    connect(labWebsite, &TImage::clicked, this, &TAboutForm::labWebsiteClick);
    connect(labMore, &TImage::clicked, this, &TAboutForm::labMoreClick);
    connect(Label8, &TImage::clicked, this, &TAboutForm::Label8Click);
    connect(Label9, &TImage::clicked, this, &TAboutForm::Label9Click);
    connect(Label10, &TImage::clicked, this, &TAboutForm::Label10Click);

    FormCreate();
}

void TAboutForm::FormCreate()
{
    const ProgramInfoValues& info = ProgramInfo();
    labProgramName->setText(info.productName);
    labVersion->setText(QStringLiteral("Version ") + VersionText);
    labCopyright->setText(kCopyrightPrefix + info.companyName + QLatin1Char(' ') + info.noticeYear);
    labWebsite->setText(info.website);
    Label8->setText(info.others[0].name);
    Label9->setText(info.others[1].name);
    Label10->setText(info.others[2].name);
    // Only the text itself answers the mouse, not the empty rest of the line.
    for (TImage* link : {labWebsite, Label8, Label9, Label10})
        link->resize(qMin(link->sizeHint().width(), width() - link->x() - 8), link->height());
}

void TAboutForm::FormShow()
{
    DisableMainFormFor(this);
    m_mainDisabled = true;
}

void TAboutForm::FormClose()
{
    EnableMainFormAfter(this);
    m_mainDisabled = false;
}

void TAboutForm::btnOKClick() { close(); }

void TAboutForm::labWebsiteClick() { ShellOpen(labWebsite->text()); }

void TAboutForm::labMoreClick() { ShellOpen(ProgramInfo().websiteMore); }

void TAboutForm::Label8Click() { ShellOpen(ProgramInfo().others[0].url); }

void TAboutForm::Label9Click() { ShellOpen(ProgramInfo().others[1].url); }

void TAboutForm::Label10Click() { ShellOpen(ProgramInfo().others[2].url); }

void TAboutForm::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (m_background.isNull())
        p.fillRect(rect(), palette().window());
    else
        p.drawPixmap(rect(), m_background);
}

void TAboutForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (e->spontaneous())
        return; // restored by the window system, not shown anew
    CentreOverMainForm(this);
    FormShow();
    btnOK->setFocus();
}

void TAboutForm::closeEvent(QCloseEvent* e)
{
    FormClose();
    e->accept();
}

void TAboutForm::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    // Hidden some other way than closing: the main window must not stay disabled.
    if (!e->spontaneous() && m_mainDisabled)
        FormClose();
}
