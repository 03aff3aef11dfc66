#pragma once

#include "FileIdentity.h"
#include "ResultsModel.h"
#include "Trash.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

// What may go to the trash, what is said about it, and how it is put back: the delete
// command's policy and the undo bookkeeping, apart from the window that asks.

// One file the user checked, with what its path named when it was listed.
struct TrashRequest
{
    QString path;
    FileIdentity listed;
    std::uint32_t group = 0;
    int row = -1; // where it stood in the list when the plan was made
    std::uint32_t collectionIndex = 0;
    std::int64_t size = 0;
};

// An unchecked copy whose standing lets its group's checked copies go.
struct KeptCopy
{
    QString path;
    FileIdentity listed;
};

struct TrashFailure
{
    QString path;
    QString reason;
};

// The checked rows, looked at before the user is asked.
struct DeletePlan
{
    std::vector<TrashRequest> requests; // to be moved, each checked path once, in list order
    std::vector<TrashFailure> held;     // checked, but never to be moved
    std::int64_t bytes = 0;             // the requested files' sizes, a file with several names once
    int wholeGroups = 0;                // groups whose every listed copy is checked
    QStringList wholeGroupPaths;
    std::map<std::uint32_t, std::vector<KeptCopy>> kept; // per group of a request
    ProtectedFiles protection;                           // never moved, even if checked
};

struct MovedFile
{
    QString path;
    FileIdentity identity;   // as it was just before the move
    bool freesSpace = false; // false while another name of the file stays
    std::uint32_t collectionIndex = 0;
    TrashedFile trashed; // how Undo finds it again
};

struct TrashOutcome
{
    std::vector<MovedFile> moved;
    std::vector<TrashFailure> failed;
    std::int64_t bytesFreed = 0; // once the trash is emptied
    int sharedNames = 0;         // moved names whose file keeps another name
    qsizetype notReached = 0;    // requests left where they are because the user stopped
};

// Reads the checked rows: which to request, which to hold back (every copy of a group
// checked, a path too long to hand to the trash, a file that is also listed unchecked under
// another path), what is at stake.
DeletePlan planDeletion(const ResultsModel &list);
// The question put to the user before anything moves; it counts only the requested files.
QString confirmationText(const DeletePlan &plan);
// Said instead of the question when nothing checked can move.
QString nothingToMoveText(const DeletePlan &plan);

// The per-user lock every instance takes while it looks at one file again and moves it.
QString trashLockPath();

// One send of a plan's files to the trash, meant to run on a thread of its own. Just before
// each move, under the lock, the file must still be the one listed and an unchecked copy of
// its group must still stand as the search saw it; otherwise the file stays and is reported.
class TrashRun
{
public:
    TrashRun(Trash &trash, DeletePlan plan);
    ~TrashRun();
    // Moves the plan's files, one at a time, on the calling thread.
    void SendToRecycleBin();
    // Any thread; the run ends after the file it is at.
    void stop() { m_stop = true; }

    std::size_t total() const { return m_plan.requests.size(); }
    std::size_t done() const { return m_done; }
    // True while another instance holds the lock.
    bool waiting() const { return m_waiting; }
    // The files moved since the last call; any thread.
    std::vector<MovedFile> takeMoved();
    // Complete once SendToRecycleBin() has returned.
    const TrashOutcome &outcome() const { return m_outcome; }

    // Why this request must stay where it is now (now: its path examined just before), or
    // the empty text when it may go. Every rule that keeps a file back belongs here.
    QString reasonToHoldBack(const TrashRequest &request, const FileIdentity &now);

private:
    void sendOne(const TrashRequest &request);
    bool keptCopyStands(const TrashRequest &request, const FileIdentity &moving);
    void finish();

    Trash &m_trash;
    const DeletePlan m_plan;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_waiting{false};
    std::atomic<std::size_t> m_done{0};
    int m_lock = -1;
    QString m_lockError;
    std::map<std::uint32_t, std::size_t> m_standing; // per group: the kept copy that stood last
    std::vector<FileIdentity> m_movedFiles;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::pair<int, std::uint64_t>> m_namesMoved;
    std::mutex m_mutex;
    std::vector<MovedFile> m_fresh; // guarded by m_mutex
    TrashOutcome m_outcome;
};

// The one report after the move: how many files went, what that frees, every failure named.
QString reportText(const TrashOutcome &outcome);

// Removes exactly the checked rows whose files are gone; rows of files still there stay.
// Returns the rows removed.
std::vector<ResultsModel::Row> RemoveCheckedRows(ResultsModel &list);

// What one send moved, so that Undo can put the files and their rows back.
struct SendRecord
{
    std::vector<TrashedFile> files;
    std::vector<ResultsModel::Row> rows; // of the files moved, unchecked
    ResultsModel::ColourState colours;   // as they were before the send
};

// One Undo, meant to run on a thread of its own; stop() takes effect between files.
class UndoRun
{
public:
    UndoRun(Trash &trash, SendRecord record) : m_trash(trash), m_record(std::move(record)) {}
    void run();
    void stop() { m_stop = true; }
    std::size_t total() const { return m_record.files.size(); }
    std::size_t done() const { return m_done; }
    // Rows whose files are back since the last call, ready for the list; any thread.
    std::vector<ResultsModel::Row> takeRowsBack();
    // After run(): the report, and the colours to give the list back.
    QString reportText() const;
    const ResultsModel::ColourState &colours() const { return m_record.colours; }
    qsizetype back() const { return m_back; }

private:
    Trash &m_trash;
    SendRecord m_record;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_done{0};
    std::mutex m_mutex;
    std::vector<ResultsModel::Row> m_fresh; // guarded by m_mutex
    qsizetype m_back = 0;
    QStringList m_failures;
    qsizetype m_notReached = 0;
};

// "30 bytes", "1.5 MiB": an amount of disk space in our own boxes, in binary units.
QString spaceText(std::int64_t bytes);
// "200,000": a count in our own boxes, with thousands separators.
QString countText(qsizetype count);
