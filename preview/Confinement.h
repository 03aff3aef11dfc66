#pragma once

#include <QStringList>

// Closes every descriptor above standard error. Whatever started the window may have left
// descriptors open, which the window and then the renderer inherit, and Landlock does not
// cover a file that is open already.
void closeInheritedDescriptors();

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

// Refuses from now on, with a seccomp filter, every socket (no network, no local services)
// and every signal to another process, as well as tracing one. False when the kernel has
// seccomp but refused the filter; true when it was set or the kernel has no seccomp.
bool forbidSignalsAndNetwork();
