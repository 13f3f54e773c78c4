#pragma once
// Helpers for every suite, the window-free ones too: a throw-away application folder, where
// the build put the program, clips made and read by ffmpeg. Qt Core and Qt Test only.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest/QtTest>

// A fresh application folder. With withAssets, the shipped Profiles/ and Preferences.ini
// are copied in (from the build's application folder).
class TempAppDir {
public:
    explicit TempAppDir(bool withAssets = true);
    QString path() const; // ends in "/"
    QString file(const QString& name) const { return path() + name; }
    void write(const QString& name, const QByteArray& content) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// Folder of the built application (build/app/), and of the build.
QString BuiltAppDir();
// A profile file's switches with its stored choices; its "Cut points" choice replaced by
// cutPoints where that is given.
QString StoredProfileSwitches(const QString& profileFile, const QString& cutPoints = QString());
QString BuildDir();

// Makes a test clip with ffmpeg: testsrc video plus a sine tone. Returns false on failure.
bool MakeClip(const QString& path, double seconds, const QString& size = QStringLiteral("320x240"),
              int fps = 25);
// Length of a media file in seconds by ffprobe, or -1.
double ProbeDuration(const QString& path);
// Runs ffprobe and returns "codec_type=codec_name" lines of the file's streams.
QStringList ProbeStreams(const QString& path);
