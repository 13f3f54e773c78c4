#include "segments/JoinPieces.h"
#include "split/OutputFile.h"

#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The first line of every lock file: what tells ours from a user's file of the same name.
constexpr char kLockMagic[] = "veltrane join pieces\n";
constexpr qint64 kMostLockBytes = 256;

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QString WithSlash(const QString& folder) { return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'); }

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

const QRegularExpression& JoinName()
{
    static const QRegularExpression re(
        QStringLiteral("^vtjoin-([0-9a-z]{1,8})(?:-[0-9]{1,6}\\.[A-Za-z0-9]{1,10}|\\.txt|\\.ffmeta|\\.lock)$"));
    return re;
}

// A lock file's handle, when it is ours and held by no running job; -1 otherwise. Held (and
// locked) by the caller while the pieces go, so a job starting under the same token cannot
// slip in between.
int TakeStaleLock(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat own {}, named {};
    char head[kMostLockBytes] = {};
    const ssize_t got = ::fstat(fd, &own) == 0 && S_ISREG(own.st_mode) && own.st_size <= kMostLockBytes
                            ? ::pread(fd, head, sizeof head - 1, 0)
                            : -1;
    const bool ours = got >= ssize_t(sizeof kLockMagic - 1) && std::memcmp(head, kLockMagic, sizeof kLockMagic - 1) == 0;
    if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.constData(), &named) == 0 && SameInode(own, named))
        return fd;
    ::close(fd);
    return -1;
}

} // namespace

QString JoinTokenOf(const QString& fileName)
{
    const QRegularExpressionMatch m = JoinName().match(fileName);
    return m.hasMatch() ? m.captured(1) : QString();
}

JoinLock::~JoinLock() { Release(); }

bool JoinLock::Acquire(const QString& folder, QString* error)
{
    Release();
    const QString dir = WithSlash(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString token = QString::number(QRandomGenerator::global()->generate64() % 0xFFFFFFFFFFull, 36);
        const QString path = dir + QStringLiteral("vtjoin-%1.lock").arg(token);
        const int fd = CreateLockedFile(path, 0644);
        if (fd < 0) {
            if (errno == EEXIST || errno == EAGAIN)
                continue;
            if (error)
                *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        // Locked before it says it is ours: a sweep that found it empty left it alone.
        const QByteArray text = kLockMagic + QByteArray::number(qint64(::getpid())) + '\n';
        if (::write(fd, text.constData(), size_t(text.size())) == text.size()) {
            m_fd = fd;
            m_token = token;
            m_path = path;
            return true;
        }
        ::unlink(Native(path).constData());
        ::close(fd);
    }
    if (error)
        *error = QStringLiteral("%1: no free name for the join's files").arg(dir);
    return false;
}

void JoinLock::Release()
{
    if (m_fd < 0)
        return;
    ::unlink(Native(m_path).constData()); // while still locked: no sweep takes it for stale
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    m_token.clear();
}

int SweepStaleJoinPieces(const QString& folder)
{
    const QString dir = WithSlash(folder);
    DIR* d = ::opendir(Native(dir).constData());
    if (!d)
        return 0;
    // A piece being written when the program ended is still under its hidden temporary name.
    static const QRegularExpression hiddenPart(
        QStringLiteral("^\\.vtjoin-([0-9a-z]{1,8})-[0-9]{1,6}\\.vtpart-[0-9a-z]{6}(\\.[A-Za-z0-9]{1,10})$"));
    QMap<QString, QStringList> byToken;
    QMap<QString, QStringList> partExtensions;
    while (const dirent* e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        const QString token = JoinTokenOf(name);
        if (!token.isEmpty())
            byToken[token] << name;
        const QRegularExpressionMatch part = hiddenPart.match(name);
        if (part.hasMatch() && !partExtensions[part.captured(1)].contains(part.captured(2)))
            partExtensions[part.captured(1)] << part.captured(2);
    }
    ::closedir(d);

    int removed = 0;
    for (auto it = byToken.cbegin(); it != byToken.cend(); ++it) {
        const QString lockName = QStringLiteral("vtjoin-%1.lock").arg(it.key());
        if (!it.value().contains(lockName))
            continue; // nothing proves these are ours
        const QByteArray lockPath = Native(dir + lockName);
        const int fd = TakeStaleLock(lockPath);
        if (fd < 0)
            continue; // a running job's, or not ours
        for (const QString& name : it.value()) {
            if (name == lockName)
                continue;
            struct stat st {};
            const QByteArray path = Native(dir + name);
            if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.constData()) == 0)
                ++removed;
        }
        // The pieces' own half-written files; each is locked while its writer runs.
        for (const QString& extension : partExtensions.value(it.key()))
            removed += RemoveLeftoverParts(dir, QStringLiteral("vtjoin-%1-").arg(it.key()), extension);
        if (::unlink(lockPath.constData()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}
