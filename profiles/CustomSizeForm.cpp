#include "profiles/CustomSizeForm.h"
#include "app/Dialogs.h"
#include "app/WindowHelpers.h"
#include "profiles/IniFile.h"
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace {
}

TSizeForm::TSizeForm(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("SizeForm"));
    setWindowTitle(QStringLiteral("Video Size of output files"));
    setFixedSize(272, 124);

    Label1 = new QLabel(QStringLiteral("Width:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(20, 20, 60, 24);
    edtWidth = new QLineEdit(this);
    edtWidth->setObjectName(QStringLiteral("edtWidth"));
    edtWidth->setGeometry(84, 20, 168, 24);
    Label1->setBuddy(edtWidth);
    Label2 = new QLabel(QStringLiteral("Height:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(20, 52, 60, 24);
    edtHeight = new QLineEdit(this);
    edtHeight->setObjectName(QStringLiteral("edtHeight"));
    edtHeight->setGeometry(84, 52, 168, 24);
    Label2->setBuddy(edtHeight);

    btnOK = new QPushButton(QStringLiteral("&OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(84, 88, 80, 26);
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(172, 88, 80, 26);

    setTabOrder(edtWidth, edtHeight);
    setTabOrder(edtHeight, btnOK);
    setTabOrder(btnOK, btnCancel);

    connect(btnOK, &QPushButton::clicked, this, &TSizeForm::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TSizeForm::btnCancelClick);
}

void TSizeForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!e->spontaneous()) {
        CentreOverMainForm(this);
        FormShow();
    }
}

void TSizeForm::FormShow()
{
    DisableMainFormFor(this);
}

void TSizeForm::keyPressEvent(QKeyEvent* e)
{
    // Enter confirms and Escape cancels, as in any dialog.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        btnOK->click();
        return;
    }
    if (e->key() == Qt::Key_Escape) {
        btnCancel->click();
        return;
    }
    QWidget::keyPressEvent(e);
}

void TSizeForm::closeEvent(QCloseEvent* e)
{
    FormClose();
    e->accept();
}

void TSizeForm::FormClose()
{
    // After OK the size is set already; otherwise the profile falls back to the source's size.
    emit closing();
    EnableMainFormAfter(this);
}

void TSizeForm::btnOKClick()
{
    if (!ConvertWholeNumber(edtWidth->text())) {
        ShowMessage(this, MsgIcon::Information, QStringLiteral("Incorrect Width"),
                    QStringLiteral("Please specify a proper width for output videos."));
        edtWidth->setFocus();
        return;
    }
    if (!ConvertWholeNumber(edtHeight->text())) {
        ShowMessage(this, MsgIcon::Information, QStringLiteral("Incorrect Height"),
                    QStringLiteral("Please specify a proper height for output videos."));
        edtHeight->setFocus();
        return;
    }
    // The texts as typed, not the converted numbers.
    emit sizeChosen(edtWidth->text() + QLatin1Char('x') + edtHeight->text());
    close();
}

void TSizeForm::btnCancelClick()
{
    close();
}
