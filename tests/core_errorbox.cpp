// The program's standard error box: its text rule and what reaches it.
#include "TestSupport.h"
#include "app/VtError.h"

class TestErrorBox : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Unable to write to /a/b.ini" << "Unable to write to /a/b.ini.";
        QTest::newRow("digit") << "Code 42" << "Code 42.";
        QTest::newRow("slash sorts after the point") << "/a/" << "/a/.";
        QTest::newRow("closing bracket sorts before") << "List index out of bounds (5)" << "List index out of bounds (5)";
        QTest::newRow("point itself") << "Done." << "Done.";
        QTest::newRow("exclamation") << "Stop!" << "Stop!";
        QTest::newRow("blank") << "Ends in blank " << "Ends in blank ";
        QTest::newRow("comma") << "a," << "a,";
        QTest::newRow("minus") << "a-" << "a-";
        QTest::newRow("colon") << "a:" << "a:.";
        QTest::newRow("non-ASCII") << QString::fromUtf8("caf\u00e9") << QString::fromUtf8("caf\u00e9.");
        QTest::newRow("empty") << "" << "";
    }
    void textRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(ErrorBoxText(text), shown);
    }

    void guardedErrorsReachTheBox()
    {
        MessageLog log;
        RunGuarded([] { throw EVeltraneError(QStringLiteral("Unable to write to /x/Preferences.ini")); });
        RunGuarded([] { throw EListIndexError(3); });
        RunGuarded([] {});
        QCOMPARE(log.shown.size(), 2);
        QCOMPARE(log.shown[0].text, QStringLiteral("Unable to write to /x/Preferences.ini."));
        QCOMPARE(log.shown[0].icon, MsgIcon::Error);
        QCOMPARE(log.shown[0].buttons, MsgButtons::Ok);
        QCOMPARE(log.shown[0].caption, ApplicationTitle());
        QCOMPARE(log.shown[1].text, QStringLiteral("List index out of bounds (3)"));
    }
};

VT_TEST_MAIN(TestErrorBox)
#include "core_errorbox.moc"
