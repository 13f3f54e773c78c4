#pragma once
// The pieces a join writes beside its output ("vtjoin-<token>-<n><ext>", the list
// "vtjoin-<token>.txt", the chapters "vtjoin-<token>.ffmeta") belong to one running job,
// which holds a lock file "vtjoin-<token>.lock" (locked, with its process id) for as long as
// it runs. A program that is killed leaves pieces behind; the lock file, no longer locked,
// proves they are ours and stale, so the next job in that folder removes them. A file that
// merely looks like a piece, without such a lock file beside it, is never touched.
#include <QString>

class JoinLock {
public:
    JoinLock() = default;
    ~JoinLock(); // the lock file goes
    JoinLock(const JoinLock&) = delete;
    JoinLock& operator=(const JoinLock&) = delete;

    // Creates and locks a lock file under a new token in folder (ending with a separator).
    // False with a reason naming the file when the folder refuses it.
    bool Acquire(const QString& folder, QString* error);
    QString Token() const { return m_token; }
    QString Path() const { return m_path; }
    void Release();

private:
    QString m_token;
    QString m_path;
    int m_fd = -1;
};

// The token of a join's file name (a piece, list, chapters or lock file); empty for any
// other name.
QString JoinTokenOf(const QString& fileName);

// Removes the join files in folder whose lock file is there, is ours and is held by no
// running job, then the lock file itself. Returns how many files went.
int SweepStaleJoinPieces(const QString& folder);
