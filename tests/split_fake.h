#pragma once
// The stand-in encoder's script and log, process checks through /proc, and the temporary
// names outputs are written under. Qt Core only, for the runner's suite as well.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

// One run of the stand-in encoder as its log tells it.
struct FakeRun {
    qint64 pid = 0;
    qint64 childPid = 0;
    QStringList args;
};

class FakeEncoder {
public:
    FakeEncoder()
    {
        qputenv("VT_FAKE_LOG", LogPath().toLocal8Bit());
        qputenv("VT_FAKE_SCRIPT", ScriptPath().toLocal8Bit());
        SetScript(QString());
    }
    ~FakeEncoder()
    {
        qunsetenv("VT_FAKE_LOG");
        qunsetenv("VT_FAKE_SCRIPT");
    }
    static QString Program() { return QStringLiteral(VT_FAKE_ENCODER_PATH); }
    QString LogPath() const { return m_dir.path() + "/log.txt"; }
    QString ScriptPath() const { return m_dir.path() + "/script.txt"; }
    // An empty script: write the output file and end well.
    void SetScript(const QString& text)
    {
        QFile f(ScriptPath());
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write((text.isEmpty() ? QStringLiteral("output\nexit 0\n") : text).toUtf8());
    }
    // Lets a "wait NAME" of the script go on.
    void Go(const QString& name) const
    {
        QFile f(m_dir.path() + "/" + name);
        f.open(QIODevice::WriteOnly);
    }
    QList<FakeRun> Runs() const
    {
        QList<FakeRun> runs;
        QFile f(LogPath());
        if (!f.open(QIODevice::ReadOnly))
            return runs;
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (line.startsWith("run ")) {
                runs.append(FakeRun{});
                runs.last().pid = line.section("pid=", 1).toLongLong();
            } else if (runs.isEmpty()) {
                continue;
            } else if (line.startsWith("arg ")) {
                QString a = line.mid(4);
                a.replace("\\n", "\n").replace("\\\\", "\\");
                runs.last().args << a;
            } else if (line.startsWith("child=")) {
                runs.last().childPid = line.mid(6).toLongLong();
            }
        }
        return runs;
    }

private:
    QTemporaryDir m_dir;
};

// A process that has ended but not been reaped yet counts as gone.
inline bool ProcessAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() && text.at(close + 2) != 'Z';
}

// The processes whose parent is pid.
inline QList<qint64> ChildrenOf(qint64 pid)
{
    QList<qint64> out;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        bool ok = false;
        const qint64 p = e.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(p));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 1 && f.at(1).toLongLong() == pid)
            out << p;
    }
    return out;
}

// written is the hidden temporary name the encoder got for the output finalPath.
inline bool IsPartOf(const QString& written, const QString& finalPath)
{
    const QFileInfo f(finalPath);
    const QString pattern = QStringLiteral("^\\.%1\\.vtpart-[a-z0-9]{6}\\.%2$")
                                .arg(QRegularExpression::escape(f.completeBaseName()),
                                     QRegularExpression::escape(f.suffix()));
    const QFileInfo w(written);
    return w.absolutePath() == f.absolutePath() && QRegularExpression(pattern).match(w.fileName()).hasMatch();
}

// The temporary files left in a folder.
inline QStringList PartsIn(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.vtpart-*")}, QDir::Files | QDir::Hidden | QDir::System);
}
