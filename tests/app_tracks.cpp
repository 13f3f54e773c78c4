// The window's Tracks button: the source's tracks listed when it opens, a choice kept per
// source, and a cut that keeps exactly the ticked tracks.
#include "split_support.h"

#include "app/TracksForm.h"
#include <QDialogButtonBox>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>

namespace {

constexpr int kWait = 30000;

// Video, English and German sound, English SRT: the file a viewer of foreign films cuts.
bool MakeSource(const QString& dir, const QString& name)
{
    QFile srt(dir + "/cues.srt");
    if (!srt.open(QIODevice::WriteOnly))
        return false;
    srt.write("1\n00:00:01,000 --> 00:00:03,000\nOne\n\n2\n00:00:04,000 --> 00:00:07,000\nTwo\n");
    srt.close();
    QProcess p;
    p.start("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                  "testsrc=size=160x120:rate=25:duration=8", "-f", "lavfi", "-i", "sine=f=440:d=8",
                                  "-f", "lavfi", "-i", "sine=f=660:d=8", "-i", srt.fileName(),
                                  "-map", "0", "-map", "1", "-map", "2", "-map", "3",
                                  "-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-c:a", "aac", "-c:s", "srt",
                                  "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=ger",
                                  "-metadata:s:s:0", "language=eng", dir + "/" + name});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// "video", "audio eng", ... for each stream of a file.
QStringList StreamsWithLanguages(const QString& path)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type:stream_tags=language", "-of", "csv=p=0",
                        path});
    p.waitForFinished(30000);
    QStringList streams;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        streams << line.trimmed().replace(',', ' ');
    return streams;
}

TTracksForm* OpenTracksForm()
{
    MainForm->btnTracks->click();
    return MainForm->findChild<TTracksForm*>();
}

void Tick(TTracksForm* form, const QString& name, bool ticked)
{
    for (int i = 0; i < form->lvTracks->topLevelItemCount(); ++i)
        if (form->lvTracks->topLevelItem(i)->text(0) == name)
            form->lvTracks->topLevelItem(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

} // namespace

class AppTracksTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(BuiltAppDir() + "wmaspi.dll"));
        QVERIFY(MakeSource(m_media.path(), "film.mkv"));
        QVERIFY(QFile::copy(m_media.filePath("film.mkv"), m_media.filePath("other.mkv")));
    }

    void chosenTracksAreKeptPerSourceAndCut()
    {
        TempAppDir app;
        FormsFixture forms(app.path());
        MessageLog log;
        QTemporaryDir out;
        MainForm->EncoderPath = BuiltAppDir() + "wmaspi.dll";
        const QString film = m_media.filePath("film.mkv");

        OpenSourceAndWait(film);
        QTRY_VERIFY_WITH_TIMEOUT(MainForm->btnTracks->isEnabled(), kWait);
        QCOMPARE(MainForm->btnTracks->text(), QStringLiteral("Tracks: all"));

        // The list as a user reads it; leaving the German sound out.
        TTracksForm* form = OpenTracksForm();
        QVERIFY(form);
        QStringList rows;
        for (int i = 0; i < form->lvTracks->topLevelItemCount(); ++i)
            rows << form->lvTracks->topLevelItem(i)->text(0) + ' ' + form->lvTracks->topLevelItem(i)->text(3);
        QCOMPARE(rows.join(','), QStringLiteral("v:0 ,a:0 eng,a:1 ger,s:0 eng"));
        Tick(form, "a:1", false);
        form->accept();
        QCOMPARE(MainForm->btnTracks->text(), QStringLiteral("Tracks: 3 of 4"));

        // Nothing ticked cannot be confirmed; Cancel keeps the choice made before.
        form = OpenTracksForm();
        for (const QString& name : QStringList{"v:0", "a:0", "a:1", "s:0"})
            Tick(form, name, false);
        QVERIFY(!form->Buttons->button(QDialogButtonBox::Ok)->isEnabled());
        form->reject();
        QCOMPARE(MainForm->btnTracks->text(), QStringLiteral("Tracks: 3 of 4"));

        // Another source starts with every track; coming back finds the choice again.
        OpenSourceAndWait(m_media.filePath("other.mkv"));
        QTRY_COMPARE_WITH_TIMEOUT(MainForm->btnTracks->isEnabled(), true, kWait);
        QCOMPARE(MainForm->btnTracks->text(), QStringLiteral("Tracks: all"));
        OpenSourceAndWait(film);
        QTRY_COMPARE_WITH_TIMEOUT(MainForm->btnTracks->text(), QStringLiteral("Tracks: 3 of 4"), kWait);

        // Two copied sections: video, the English sound and the subtitle, nothing German.
        QVERIFY(SelectProfile("MKV - Stream copy"));
        QVERIFY(PrepareJob(film, "00:00:02", "00:00:06", 2, out.path()));
        QTRY_COMPARE_WITH_TIMEOUT(MainForm->btnTracks->text(), QStringLiteral("Tracks: 3 of 4"), kWait);
        PressStart();
        QVERIFY2(log.lastText().startsWith("Splitting is completed successfully."), qPrintable(log.lastText()));
        for (const QString& name : QStringList{"film_Clip1.mkv", "film_Clip2.mkv"})
            QCOMPARE(StreamsWithLanguages(out.filePath(name)).join(','), QStringLiteral("video,audio eng,subtitle eng"));
    }
};

VT_TEST_MAIN(AppTracksTest)
#include "app_tracks.moc"
