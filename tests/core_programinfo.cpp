#include "about/ProgramInfo.h"
#include <QtTest/QtTest>

class TestProgramInfo : public QObject {
    Q_OBJECT
private slots:
    void values()
    {
        InitProgramInfoValues(QStringLiteral("/opt/veltrane/"));
        const ProgramInfoValues& info = ProgramInfo();
        QCOMPARE(info.productName, QStringLiteral("Veltrane"));
        QCOMPARE(info.noticeYear, QStringLiteral("2008"));
        QCOMPARE(info.helpFile, QStringLiteral("/opt/veltrane/") + HelpFileName());
        QVERIFY(!info.companyName.isEmpty());
        // Both copies of the web page hold the same address, and every link is a web address.
        QCOMPARE(info.websiteMore, info.website);
        QVERIFY(info.website.startsWith(QLatin1String("https://")));
        for (const ProductLink& p : info.others) {
            QVERIFY(!p.name.isEmpty());
            QVERIFY(p.url.startsWith(QLatin1String("https://")));
        }
        QVERIFY(info.others[0].name != info.others[1].name && info.others[1].name != info.others[2].name);
    }

    void banner()
    {
        QCOMPARE(BannerText(QStringLiteral("Veltrane")), QStringLiteral("Veltrane"));
        QCOMPARE(BannerText(QStringLiteral("Larkspur Video Cutter")), QStringLiteral("Video Cutter"));
        QCOMPARE(BannerText(QStringLiteral("Trailing ")), QString());
    }

    void caption()
    {
        QCOMPARE(MainCaption(QStringLiteral("Veltrane"), QStringLiteral("1.8")), QStringLiteral("Veltrane V1.8"));
        QCOMPARE(MainCaption(QStringLiteral("Veltrane"), QStringLiteral("2.0")), QStringLiteral("Veltrane V2.0"));
    }
};

QTEST_APPLESS_MAIN(TestProgramInfo)
#include "core_programinfo.moc"
