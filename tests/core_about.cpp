// The About dialog: its texts, its links and how it lends the main window back.
#include "TestSupport.h"
#include "about/AboutForm.h"
#include "about/ProgramInfo.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include <QLabel>
#include <QPushButton>

class TestAboutForm : public QObject {
    Q_OBJECT

    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(2, w->height() / 2)); }

private Q_SLOTS:
    void texts()
    {
        TempAppDir dir;
        MessageLog messages;
        FormsFixture forms(dir.path());
        const ProgramInfoValues& info = ProgramInfo();
        QCOMPARE(AboutForm->windowTitle(), QStringLiteral("About"));
        QCOMPARE(AboutForm->size(), QSize(420, 300));
        QCOMPARE(AboutForm->minimumSize(), AboutForm->maximumSize());
        QVERIFY(AboutForm->isWindow());
        QVERIFY(!AboutForm->isVisible());
        // The background picture is part of the program and fills the dialog.
        const QPixmap background(QStringLiteral(":/images/about_bg.png"));
        QVERIFY(!background.isNull());
        const QImage shown = AboutForm->grab().toImage();
        QCOMPARE(shown.pixelColor(300, 150).rgb(),
                 background.toImage().scaled(AboutForm->size()).pixelColor(300, 150).rgb());

        QCOMPARE(AboutForm->labProgramName->text(), QStringLiteral("Veltrane"));
        QVERIFY(AboutForm->labProgramName->alignment() & Qt::AlignRight);
        QVERIFY(AboutForm->labProgramName->font().bold());
        QVERIFY(AboutForm->labProgramName->font().italic());
        QCOMPARE(AboutForm->labVersion->text(), QStringLiteral("Version 1.8"));
        QCOMPARE(AboutForm->labCopyright->text(), QString::fromUtf8("Copyright \u00A9 ") + info.companyName + " 2008");
        QVERIFY(!info.companyName.isEmpty());
        QCOMPARE(AboutForm->labRightsReserved->text(), QStringLiteral("All rights reserved."));
        QCOMPARE(AboutForm->labVisitWebsite->text(), QStringLiteral("Visit our website"));
        QCOMPARE(AboutForm->labWebsite->text(), info.website);
        QCOMPARE(AboutForm->Label7->text(), QStringLiteral("More video converting softwares"));
        QCOMPARE(AboutForm->labMore->text(), QStringLiteral("(More)"));
        QCOMPARE(AboutForm->Label8->text(), info.others[0].name);
        QCOMPARE(AboutForm->Label9->text(), info.others[1].name);
        QCOMPARE(AboutForm->Label10->text(), info.others[2].name);
        QCOMPARE(AboutForm->btnOK->text(), QStringLiteral("&OK"));

        // The links look like links; the website address is underlined too.
        for (QLabel* link : {static_cast<QLabel*>(AboutForm->labWebsite), static_cast<QLabel*>(AboutForm->labMore),
                             static_cast<QLabel*>(AboutForm->Label8), static_cast<QLabel*>(AboutForm->Label9),
                             static_cast<QLabel*>(AboutForm->Label10)}) {
            QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
            QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        }
        QVERIFY(AboutForm->labWebsite->font().underline());
        // Every text fits the dialog and no two controls overlap.
        const QList<QWidget*> controls = AboutForm->findChildren<QWidget*>();
        for (QWidget* a : controls) {
            QVERIFY2(AboutForm->rect().contains(a->geometry()), qPrintable(a->objectName()));
            if (auto* label = qobject_cast<QLabel*>(a))
                QVERIFY2(label->sizeHint().width() <= label->width() + 1, qPrintable(a->objectName()));
            for (QWidget* b : controls)
                QVERIFY2(a == b || !a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + " / " + b->objectName()));
        }
    }

    void versionFromPreferences()
    {
        TempAppDir dir;
        MessageLog messages;
        dir.write("Preferences.ini", "[Main]\nOther=1\n");
        {
            FormsFixture forms(dir.path());
            QCOMPARE(AboutForm->labVersion->text(), QStringLiteral("Version 1.8"));
        }
        dir.write("Preferences.ini", "[main]\nversion=2.0\n");
        FormsFixture forms(dir.path());
        QCOMPARE(AboutForm->labVersion->text(), QStringLiteral("Version 2.0"));
        // The texts are set once, when the dialog is made.
        dir.write("Preferences.ini", "[Main]\nVersion=3.0\n");
        AboutForm->show();
        QCOMPARE(AboutForm->labVersion->text(), QStringLiteral("Version 2.0"));
        AboutForm->close();
    }

    void links()
    {
        TempAppDir dir;
        MessageLog messages;
        FormsFixture forms(dir.path());
        ShellLog shell;
        const ProgramInfoValues& info = ProgramInfo();
        AboutForm->show();
        click(AboutForm->labWebsite);
        click(AboutForm->labMore);
        click(AboutForm->Label8);
        click(AboutForm->Label9);
        click(AboutForm->Label10);
        click(AboutForm->labVisitWebsite);
        click(AboutForm->Label7);
        QCOMPARE(shell.opened, QStringList({info.website, info.websiteMore, info.others[0].url, info.others[1].url,
                                            info.others[2].url}));
        // The website link opens whatever its label shows.
        AboutForm->labWebsite->setText(QStringLiteral("https://elsewhere.example/"));
        click(AboutForm->labWebsite);
        QCOMPARE(shell.opened.last(), QStringLiteral("https://elsewhere.example/"));
        for (const QString& url : shell.opened)
            QVERIFY(url.startsWith("https://"));
        AboutForm->close();
    }

    void lendsTheMainWindow()
    {
        TempAppDir dir;
        MessageLog messages;
        FormsFixture forms(dir.path());
        MainForm->show();
        QVERIFY(MainForm->isEnabled());

        // Closed by OK.
        MainForm->sbtnAboutClick();
        QVERIFY(AboutForm->isVisible());
        QVERIFY(!MainForm->isEnabled());
        QVERIFY(AboutForm->isEnabled());
        QTest::mouseClick(AboutForm->btnOK, Qt::LeftButton);
        QVERIFY(!AboutForm->isVisible());
        QVERIFY(MainForm->isEnabled());

        // Closed by the title bar's close button, twice in a row.
        for (int i = 0; i < 2; ++i) {
            MainForm->sbtnAboutClick();
            QVERIFY(!MainForm->isEnabled());
            QVERIFY(AboutForm->close());
            QVERIFY(!AboutForm->isVisible());
            QVERIFY(MainForm->isEnabled());
        }

        // Hidden some other way: the main window still comes back.
        AboutForm->show();
        QVERIFY(!MainForm->isEnabled());
        AboutForm->hide();
        QVERIFY(MainForm->isEnabled());
    }

    void centredOverMainWindow()
    {
        TempAppDir dir;
        MessageLog messages;
        FormsFixture forms(dir.path());
        MainForm->move(40, 30);
        MainForm->show();
        AboutForm->show();
        const QPoint offset = AboutForm->frameGeometry().center() - MainForm->frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 4, qPrintable(QString("%1,%2").arg(offset.x()).arg(offset.y())));
        AboutForm->close();
    }
};

VT_TEST_MAIN(TestAboutForm)
#include "core_about.moc"
