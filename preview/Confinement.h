#pragma once

#include <QStringList>

// Limits for a process that decodes untrusted pictures. They are set by the process itself,
// before it reads any input, so they hold however it is started.

// Address space about 1 GiB (not under AddressSanitizer, which reserves far more), a few
// seconds of CPU time, no core files, no new privileges through exec, and a lower priority
// than the window waiting for it.
// False when one of them cannot be set.
bool limitResources();

enum class FileAccess {
    Confined,     // nothing can be opened any more except beneath the readable folders
    NotAvailable, // the kernel has no Landlock (or it is switched off): left as it was
    Failed        // Landlock is there but refused the rules
};

// Forbids opening, creating or changing any file from now on, except reading beneath
// `readableFolders` (the fonts text needs). Uses Landlock's raw system calls.
FileAccess forbidFileAccess(const QStringList &readableFolders);
