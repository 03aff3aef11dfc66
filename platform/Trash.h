#pragma once

#include <QString>

// Moves one file to the user's trash, from which a file manager can restore it.
// Returns true only when the file has left its path and sits in a trash.
class Trash
{
public:
    virtual ~Trash() = default;
    virtual bool moveToTrash(const QString &path, QString *errorText) = 0;
};

// The freedesktop.org trash through GIO.
class SystemTrash final : public Trash
{
public:
    bool moveToTrash(const QString &path, QString *errorText) override;
};
