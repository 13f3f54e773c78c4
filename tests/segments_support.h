#pragma once
// What a join leaves behind when its program is killed: its lock file, made by a child
// process that ends without letting go of it, and the pieces of that token.
#include "segments/JoinPieces.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <sys/wait.h>
#include <unistd.h>

// The token of the killed join; its lock file and the named files are in folder.
inline QString LeaveStaleJoin(const QString& folder, const QStringList& pieceTails)
{
    int pipe[2];
    if (::pipe(pipe) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        auto* lock = new JoinLock; // never freed: the program "dies" holding it
        QString error;
        const QByteArray token = lock->Acquire(folder, &error) ? lock->Token().toLatin1() : QByteArray();
        (void)!::write(pipe[1], token.constData(), size_t(token.size()));
        ::_exit(0);
    }
    ::close(pipe[1]);
    char buffer[32] = {};
    const ssize_t got = ::read(pipe[0], buffer, sizeof buffer - 1);
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    const QString token = got > 0 ? QString::fromLatin1(buffer, got) : QString();
    for (const QString& tail : pieceTails) {
        QFile f(folder + "/" + tail.arg(token));
        if (f.open(QIODevice::WriteOnly))
            f.write("piece");
    }
    return token;
}
