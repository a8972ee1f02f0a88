#pragma once
// The project kept in the per-user data folder while it has unsaved changes, so that a crash or a
// power cut loses no more than the last moments of work. The file is a project file with one
// element more: the file the project was last saved to. One running program owns the file (a lock
// beside it); another started meanwhile keeps no recovery file and leaves the first one's alone.

#include "project_reader.h"

#include <QLockFile>
#include <QString>
#include <memory>

class TotalGraph;

class RecoveryFile {
public:
    // "recovery.prproj" in the per-user data folder.
    static QString defaultPath();
    // Takes the lock when no running program holds it (a lock left by one that died is taken over).
    explicit RecoveryFile(QString path = defaultPath());

    const QString& path() const { return file; }
    bool isOwned() const { return owned; }
    // A recovery file this program may offer: left by a run that ended without removing it.
    bool exists() const;
    // Replaces the file atomically with graph, saved last as projectFile (empty: never saved).
    bool write(const TotalGraph& graph, const QString& projectFile, QString& error) const;
    void remove() const;
    // Reads it into graph (empty) as opening a project would; projectFile gets the file it was
    // saved to.
    ProjectReadReport read(TotalGraph& graph, QString& projectFile) const;
    // Renames the file aside, for a file that cannot be read; returns the new name, empty if even
    // that failed.
    QString setAside() const;

private:
    QString file;
    std::unique_ptr<QLockFile> lock;
    bool owned = false;
};
