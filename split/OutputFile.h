#pragma once
#include <QString>
#include <optional>

class JobPlan;

// An output is complete or absent. The encoder writes a hidden temporary file beside the
// final name, ".<name>.vtpart-XXXXXX.<ext>" (the real extension last, so ffmpeg still picks
// the container by it), and only a complete file is put in place, by a rename. The rename
// replaces whatever entry stands at the final name: a symbolic link there is replaced
// itself, and the file it points to, which may lie anywhere, is never written through.
//
// The temporary file is locked while its job holds it, so a file of this kind that can be
// locked was left by a job that no longer runs (the program was killed) and may go.
class PartialOutput {
public:
    explicit PartialOutput(const QString& finalPath);
    ~PartialOutput(); // removes the temporary file unless it was put in place
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;

    // Creates a new, empty temporary file under a name nobody else uses. False with a
    // reason naming the file when the folder refuses it.
    bool Create(QString* error);
    QString TempPath() const { return m_temp; }
    QString FinalPath() const { return m_final; }
    // The temporary file holds nothing (the encoder wrote nothing).
    bool IsEmpty() const;
    qint64 Size() const; // bytes written so far
    // Puts the complete file in place. replace: an entry at the final name may be replaced
    // (it keeps the permissions of a file it replaces); otherwise an entry that appeared
    // since the job looked is kept and this fails.
    bool Commit(bool replace, QString* error);
    // Removes the temporary file.
    void Discard();

private:
    QString m_final;
    QString m_temp;
    int m_fd = -1; // open and locked while the temporary file is ours
};

// Creates path anew (never one that exists) and locks it. The lock is taken before anything is
// said about the file: a sweep that removed the name in between shows as a name that no longer
// leads to this file. The open descriptor, or -1 with errno set: EEXIST when the name is taken,
// EAGAIN when the name was swept from under it (take another name).
int CreateLockedFile(const QString& path, int mode);

// Removes the temporary files in folder that belong to outputs whose names start with
// namePrefix and end with extension, and that no running job holds. Returns how many.
int RemoveLeftoverParts(const QString& folder, const QString& namePrefix, const QString& extension);

// Something stands at path, a symbolic link that leads nowhere included.
bool OutputEntryExists(const QString& path);

// Both paths name the same file (same device and inode, symbolic links followed).
bool IsSameFile(const QString& a, const QString& b);

// The first output name of the plan that is the source itself or a link to it.
std::optional<QString> FindOutputThatIsSource(const JobPlan& plan, const QString& sourcePath);
