#include "split/OutputFile.h"
#include "split/JobPlan.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QLatin1String kPartMarker(".vtpart-");
constexpr int kRandomLength = 6;
constexpr int kNameMax = 255; // bytes of one name in the folder
constexpr qint64 kUnlistedChecks = 100000;

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QString Reason(const QString& path, int error)
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

QString RandomPart()
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString s;
    for (int k = 0; k < kRandomLength; ++k)
        s += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))]);
    return s;
}

// ".<stem>.vtpart-XXXXXX<ext>" beside finalPath, the stem shortened when the name would
// grow too long for the folder.
QString TempNameFor(const QString& finalPath)
{
    const int slash = finalPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = finalPath.left(slash + 1);
    const QString name = finalPath.mid(slash + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    QString stem = dot > 0 ? name.left(dot) : name;
    const QString tail = kPartMarker + RandomPart() + ext;
    while (!stem.isEmpty() && Native(QLatin1Char('.') + stem + tail).size() > kNameMax)
        stem.chop(1);
    return folder + QLatin1Char('.') + stem + tail;
}

// The name is a temporary file of an output named namePrefix...extension.
bool IsPartName(const QString& name, const QString& namePrefix, const QString& extension)
{
    const qsizetype tail = kPartMarker.size() + kRandomLength + extension.size();
    return name.size() > tail && name.startsWith(QLatin1Char('.'))
           && name.mid(1).startsWith(namePrefix) && name.endsWith(extension)
           && QStringView(name).mid(name.size() - tail, kPartMarker.size()) == kPartMarker;
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

} // namespace

int CreateLockedFile(const QString& path, int mode)
{
    const QByteArray native = Native(path);
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode_t(mode));
    if (fd < 0)
        return -1;
    struct stat own {}, named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &own) == 0 && ::lstat(native.constData(), &named) == 0
        && SameInode(own, named))
        return fd;
    ::close(fd);
    errno = EAGAIN;
    return -1;
}

PartialOutput::PartialOutput(const QString& finalPath) : m_final(finalPath) {}

PartialOutput::~PartialOutput() { Discard(); }

bool PartialOutput::Create(QString* error)
{
    Discard();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString temp = TempNameFor(m_final);
        // Readable by others as ffmpeg's own files would be; never inherited by the encoder.
        const int fd = CreateLockedFile(temp, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temp = temp;
            return true;
        }
        if (errno != EEXIST && errno != EAGAIN) {
            if (error)
                *error = Reason(m_final, errno);
            return false;
        }
    }
    if (error)
        *error = Reason(m_final, EEXIST);
    return false;
}

bool PartialOutput::IsEmpty() const
{
    struct stat st {};
    return m_fd < 0 || ::fstat(m_fd, &st) != 0 || st.st_size == 0;
}

qint64 PartialOutput::Size() const
{
    struct stat st {};
    return m_fd < 0 || ::fstat(m_fd, &st) != 0 ? 0 : qint64(st.st_size);
}

bool PartialOutput::Commit(bool replace, QString* error)
{
    if (m_fd < 0) {
        if (error)
            *error = Reason(m_final, ENOENT);
        return false;
    }
    const QByteArray temp = Native(m_temp);
    const QByteArray final = Native(m_final);
    struct stat old {};
    if (replace && ::lstat(final.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(m_fd, old.st_mode & 0777);
    // On the disk before it takes the name, so a crash leaves the old file or the whole
    // new one, never a name over missing data.
    if (::fdatasync(m_fd) != 0) {
        const int e = errno;
        if (error)
            *error = Reason(m_final, e);
        Discard();
        return false;
    }
    int result = 0;
    if (replace) {
        result = ::rename(temp.constData(), final.constData());
    } else {
        result = ::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, final.constData(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without that kind of rename: look first, then rename.
            if (OutputEntryExists(m_final)) {
                errno = EEXIST;
                result = -1;
            } else {
                result = ::rename(temp.constData(), final.constData());
            }
        }
    }
    if (result != 0) {
        const int e = errno;
        if (error)
            *error = Reason(m_final, e);
        Discard();
        return false;
    }
    ::close(m_fd);
    m_fd = -1;
    m_temp.clear();
    return true;
}

void PartialOutput::Discard()
{
    if (m_fd < 0)
        return;
    // Only the file this object made: the name is checked to lead to it still.
    struct stat own {}, named {};
    const QByteArray temp = Native(m_temp);
    if (::fstat(m_fd, &own) == 0 && ::lstat(temp.constData(), &named) == 0 && SameInode(own, named))
        ::unlink(temp.constData());
    ::close(m_fd);
    m_fd = -1;
    m_temp.clear();
}

int RemoveLeftoverParts(const QString& folder, const QString& namePrefix, const QString& extension)
{
    const QString dir = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    DIR* d = ::opendir(Native(dir).constData());
    if (!d)
        return 0;
    QStringList names;
    while (const dirent* e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (IsPartName(name, namePrefix, extension))
            names << name;
    }
    ::closedir(d);

    int removed = 0;
    for (const QString& name : names) {
        const QByteArray path = Native(dir + name);
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat own {}, named {};
        // A lock that can be taken belongs to no running job.
        if (::fstat(fd, &own) == 0 && S_ISREG(own.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::lstat(path.constData(), &named) == 0 && SameInode(own, named) && ::unlink(path.constData()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

bool OutputEntryExists(const QString& path)
{
    struct stat st {};
    return ::lstat(Native(path).constData(), &st) == 0;
}

bool IsSameFile(const QString& a, const QString& b)
{
    struct stat sa {}, sb {};
    return ::stat(Native(a).constData(), &sa) == 0 && ::stat(Native(b).constData(), &sb) == 0 && SameInode(sa, sb);
}

std::optional<QString> FindOutputThatIsSource(const JobPlan& plan, const QString& sourcePath)
{
    if (plan.count <= 0)
        return std::nullopt;
    struct stat source {};
    if (::stat(Native(sourcePath).constData(), &source) != 0)
        return std::nullopt;
    auto isSource = [&](const QString& path) {
        struct stat st {};
        return ::stat(Native(path).constData(), &st) == 0 && SameInode(st, source);
    };

    // Names from a template follow no pattern to look for: each is asked for (their count
    // is bounded).
    if (!plan.names.isEmpty()) {
        for (qint64 i = 1; i <= plan.count; ++i)
            if (isSource(plan.OutputPath(static_cast<qint32>(i))))
                return plan.OutputPath(static_cast<qint32>(i));
        return std::nullopt;
    }
    // One look at the folder rather than one per section, whatever the count. Names are
    // compared without regard to case (a folder may not tell them apart); the planned name
    // itself then decides.
    const QString prefix = plan.baseName + QStringLiteral("_Clip");
    DIR* d = ::opendir(Native(plan.outputFolder).constData());
    if (!d) {
        // A folder that can be written but not listed: ask for each name, up to a bound
        // (the rename never harms the source anyway; this check is there to tell the user).
        for (qint64 i = 1; i <= std::min<qint64>(plan.count, kUnlistedChecks); ++i) {
            const QString path = plan.OutputPath(static_cast<qint32>(i));
            if (isSource(path))
                return path;
        }
        return std::nullopt;
    }
    std::optional<qint64> found;
    while (const dirent* e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (!name.startsWith(prefix, Qt::CaseInsensitive) || !name.endsWith(plan.extension, Qt::CaseInsensitive))
            continue;
        const QString digits = name.mid(prefix.size(), name.size() - prefix.size() - plan.extension.size());
        const bool plain = !digits.isEmpty() && digits.size() <= 10 && digits.at(0) != QLatin1Char('0')
                           && std::all_of(digits.cbegin(), digits.cend(),
                                          [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
        const qint64 n = plain ? digits.toLongLong() : 0;
        if (n < 1 || n > plan.count)
            continue;
        if (isSource(plan.OutputPath(static_cast<qint32>(n))) && (!found || n < *found))
            found = n;
    }
    ::closedir(d);
    if (found)
        return plan.OutputPath(static_cast<qint32>(*found));
    return std::nullopt;
}
