#pragma once

#include "FolderDialog.h"
#include "MessageBoxes.h"
#include "FileSize.h"
#include "ResultsSink.h"
#include "Screen.h"
#include "SearchHost.h"
#include "SettingsStore.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

// Message boxes answered by the test: answers are taken from the queue, then the default.
class FakeMessageBoxes final : public MessageBoxes
{
public:
    struct Shown
    {
        QString text;
        Buttons buttons;
        QString title;
        Icon icon;
    };
    Answer show(const QString &text, Buttons buttons, const QString &title, Icon icon) override;

    std::vector<Shown> shown;
    std::deque<Answer> answers;
    Answer defaultAnswer = Answer::Ok;
    std::function<void(const Shown &)> onShow; // runs while the "box" is up
};

class FakeFolderDialog final : public FolderDialog
{
public:
    QString browseForFolder(const QString &prompt) override;

    QStringList prompts;
    std::deque<QString> answers; // the empty text when none is left: a cancel
};

class FakeScreen final : public Screen
{
public:
    QSize size() const override { return screenSize; }
    QRect workArea() const override { return area; }

    QSize screenSize{1280, 1024};
    QRect area{0, 0, 1280, 1000};
};

// A search host that records what the search showed; stops when told to.
class RecordingHost final : public SearchHost
{
public:
    void enterPhase(SearchPhase phase, const QString &folder) override { captions << captionFor(phase, folder); }
    void setProgress(int percent) override { progress.push_back(percent); }
    void pumpEvents() override;
    bool stopRequested() override;
    void showMessage(const QString &text, const QString &title) override;
    bool askYesNo(const QString &text, const QString &title) override;

    QStringList captions;
    std::vector<int> progress;
    QStringList messages; // "title|text"
    int pumps = 0;
    int polls = 0;
    bool answerYes = true;
    std::function<bool()> stopWhen; // polled at every stop-flag check
};

// Collects result rows as the matching produces them.
class VectorSink final : public ResultsSink
{
public:
    struct Row
    {
        QString path, sizeText, colour;
    };
    void clearRows() override
    {
        rows.clear();
        groupEnds.clear();
    }
    void addRow(const ResultRow &row) override
    {
        rows.push_back({row.path, FormatFileSize(row.size), groupColourName(row.group)});
    }
    void endGroup() override { groupEnds.push_back(rows.size()); }
    std::size_t rowCount() const override { return rows.size(); }
    // The rows' paths, one inner list per group.
    std::vector<QStringList> groups() const;

    std::vector<Row> rows;
    std::vector<std::size_t> groupEnds;
};
