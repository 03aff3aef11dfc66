// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "Console.h"
#include "SearchHost.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>

class SettingsStore;

// The signal that stopped the search, 0 while none has.
extern volatile std::sig_atomic_t stopSignal;
// A first SIGINT, SIGTERM or SIGHUP is STOP FIND; a second one ends the program at once.
void catchStopSignals();

// No window: events need no processing, a signal is the STOP FIND button, messages go to
// standard error and the phase to the progress line.
class ConsoleHost final : public SearchHost
{
public:
    using Clock = std::chrono::steady_clock;

    ConsoleHost(SettingsStore &settings, ProgressLine &progress, const Output &output, bool quiet)
        : m_settings(settings), m_progress(progress), m_output(output), m_quiet(quiet)
    {}

    // Told the listed folder before its walk starts.
    void onCollecting(std::function<void(const QString &folder)> collecting) { m_collecting = std::move(collecting); }

    void enterPhase(SearchPhase phase, const QString &folder) override;
    void setProgress(int percent) override { m_progress.percent(percent); }
    void pumpEvents() override {}
    bool stopRequested() override;
    void showMessage(const QString &text, const QString &title) override;
    bool askYesNo(const QString &, const QString &) override { return true; }

    std::optional<Clock::time_point> readingStarted, matchingStarted;

private:
    SettingsStore &m_settings;
    ProgressLine &m_progress;
    const Output &m_output;
    bool m_quiet;
    std::function<void(const QString &)> m_collecting;
};
