// SPDX-License-Identifier: GPL-2.0-or-later
#include "ConsoleHost.h"

#include "SettingsStore.h"

volatile std::sig_atomic_t stopSignal = 0;

namespace {
void onStopSignal(int signal)
{
    stopSignal = signal;
}
} // namespace

void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    // Restarted, a write blocked on a full pipe goes on: the stop is seen at the next poll.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void ConsoleHost::enterPhase(SearchPhase phase, const QString &folder)
{
    switch (phase) {
    case SearchPhase::Collecting:
        if (m_collecting)
            m_collecting(folder);
        m_progress.phase("collecting " + folder.toUtf8());
        break;
    case SearchPhase::Reading:
        readingStarted = Clock::now();
        m_progress.phase("reading");
        break;
    case SearchPhase::Matching:
        matchingStarted = Clock::now();
        m_progress.phase("matching");
        break;
    case SearchPhase::Idle:
        break;
    }
}

bool ConsoleHost::stopRequested()
{
    if (stopSignal || m_output.failed())
        m_settings.setValue(QStringLiteral("Stop"), QStringLiteral("True"));
    return m_settings.value(QStringLiteral("Stop")) == QStringLiteral("True");
}

void ConsoleHost::showMessage(const QString &text, const QString &title)
{
    // "No duplicate images found." belongs to the summary; a stopped scan found nothing yet.
    if (title.isEmpty() && (m_quiet || stopSignal))
        return;
    message(&m_progress, text.toUtf8());
}
