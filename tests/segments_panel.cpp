// The segments panel on its own: adding the marked range (button and Insert), showing a
// segment's marks, editing, reordering and removing, the project and CSV files, and a new
// source emptying the list. No real encode.
#include "TestSupport.h"
#include "segments/SegmentsPanel.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

class SegmentsPanelTest : public QObject {
    Q_OBJECT

    std::optional<std::pair<double, double>> m_marks;

    void Hook(TSegmentsPanel& p)
    {
        p.marks = [this] { return m_marks; };
        p.source = [] { return QStringLiteral("/videos/holiday.mp4"); };
    }

private slots:
    void addShowEditMoveRemove()
    {
        MessageLog messages;
        TSegmentsPanel p;
        Hook(p);
        auto* table = p.findChild<QTableWidget*>("tblSegments");
        QSignalSpy shown(&p, &TSegmentsPanel::showSegment);
        QSignalSpy ranges(&p, &TSegmentsPanel::rangesChanged);

        m_marks.reset();
        QVERIFY(!p.AddMarkedRange()); // nothing marked
        QCOMPARE(messages.shown.size(), 1);
        m_marks = std::pair{1.5, 4.25};
        p.findChild<QPushButton*>("btnAddSegment")->click();
        m_marks = std::pair{10.0, 12.0};
        p.show();
        p.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&p));
        QTest::keyClick(&p, Qt::Key_Insert);
        QCOMPARE(p.List().Count(), 2);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 1)->text(), "00:00:01.500");
        using Ranges = QList<QPair<double, double>>;
        const Ranges drawn = ranges.last().at(0).value<Ranges>();
        QCOMPARE(drawn, (Ranges{{1.5, 4.25}, {10.0, 12.0}}));
        QCOMPARE(ranges.last().at(1).toInt(), 1); // the new one is selected

        table->selectRow(0);
        QCOMPARE(shown.last().at(0).toDouble(), 1.5);
        QCOMPARE(shown.last().at(1).toDouble(), 4.25);

        table->item(0, 3)->setText("Intro, take two");
        QCOMPARE(p.List().At(0).name, "Intro, take two");
        table->item(0, 2)->setText("00:00:01"); // before its start: refused and shown again
        QCOMPARE(p.List().At(0).end, 4.25);
        QTRY_COMPARE(table->item(0, 2)->text(), "00:00:04.250");
        table->item(0, 2)->setText("5");
        QCOMPARE(p.List().At(0).end, 5.0);

        table->selectRow(0);
        QVERIFY(p.MoveSelected(1));
        QCOMPARE(p.List().At(1).name, "Intro, take two");
        QCOMPARE(p.Selected(), 1);
        m_marks = std::pair{20.0, 21.0};
        QVERIFY(p.SetSelectedToMarks());
        QCOMPARE(p.List().At(1).start, 20.0);
        QVERIFY(p.RemoveSelected());
        QCOMPARE(p.List().Count(), 1);

        p.SourceChanged("/videos/other.mp4");
        QCOMPARE(p.List().Count(), 0);
    }

    void filesRoundTrip()
    {
        MessageLog messages;
        QTemporaryDir dir;
        TSegmentsPanel p;
        Hook(p);
        m_marks = std::pair{2.0, 3.0};
        p.SetSegments({{1, 2, "One"}, {3, 4.5, "Two, \"quoted\""}});
        p.SetOutput(SegmentOutput::Joined, true);
        QVERIFY(p.SaveProject(dir.filePath("h.vtsegments")));
        QVERIFY(p.ExportCsv(dir.filePath("h.csv")));
        QVERIFY(p.ExportChapters(dir.filePath("h.ffmeta")));

        TSegmentsPanel q;
        Hook(q);
        QVERIFY(q.OpenProject(dir.filePath("h.vtsegments")));
        QCOMPARE(q.List().Items(), p.List().Items());
        QCOMPARE(q.Output(), SegmentOutput::Joined);
        QVERIFY(q.ChaptersAtJoins());
        QVERIFY(q.ImportCsv(dir.filePath("h.csv"))); // appended
        QCOMPARE(q.List().Count(), 4);
        QCOMPARE(q.List().At(3).name, "Two, \"quoted\"");

        // A broken or hostile file changes nothing and says why.
        QFile bad(dir.filePath("bad.vtsegments"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(R"({"format":"veltrane-segments","version":1,"source":"/x","segments":[{"start":5,"end":1}]})");
        bad.close();
        messages.clear();
        QVERIFY(!q.OpenProject(bad.fileName()));
        QVERIFY(!q.ImportCsv(bad.fileName()));
        QCOMPARE(q.List().Count(), 4);
        QCOMPARE(messages.shown.size(), 2);
        QVERIFY(messages.lastText().contains("bad.vtsegments"));
    }
};

VT_TEST_MAIN(SegmentsPanelTest)
#include "segments_panel.moc"
