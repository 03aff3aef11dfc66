#pragma once

#include "FingerprintStore.h"
#include "FolderWalker.h"
#include "Reading.h"
#include "UniqueFiles.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class CandidateTable;
struct CollectStats;
class ResultsSink;
class SearchHost;
class SettingsStore;
class FolderSet;

// The folder list as the search reads it, row by row.
class FolderRows
{
public:
    virtual ~FolderRows() = default;
    virtual std::size_t rowCount() const = 0;
    virtual QString rowText(std::size_t row) const = 0; // row counts from 0
};

// FIND DUPES from the empty-list check to the results (everything but the windows):
// collecting, the question above 20,000 files, reading and matching.
class SearchDriver
{
public:
    // OutOfMemory: memory (or a first reader thread) could not be had; the search stopped
    // as at STOP FIND, after saying so.
    enum class Outcome { EmptyList, Stopped, Declined, NoDuplicates, Found, OutOfMemory };

    SearchDriver(SearchHost &host, SettingsStore &settings, ResultsSink &sink);
    ~SearchDriver();

    // Called once the stop flag is reset, before collecting starts (the button swap).
    void setStartedCallback(std::function<void()> started) { m_started = std::move(started); }
    // The headless tool never asks the question above 20,000 files.
    void setAskAboveLimit(bool ask) { m_askAboveLimit = ask; }
    // Reader threads, open files and buffers of the reading phase.
    void setReadOptions(const ReadOptions &options) { m_readOptions = options; }
    // Leaves out the files the filter turns down as they are collected (the headless tool's options).
    void setFileFilter(std::function<bool(QByteArrayView folder, QByteArrayView name, std::int64_t size)> filter);
    // Collects names that do not decode instead of skipping them (the headless tool's bytes).
    void setCollectEveryName(bool every);
    // Whether searches use the fingerprint store (by default they do, in its default folder).
    void setFingerprintStore(bool use, FingerprintStore::Options options = {})
    {
        m_useStore = use;
        m_storeOptions = std::move(options);
    }
    // Threads that list folders while collecting (the collection order does not depend on it).
    void setWalkThreads(unsigned threads) { m_walkThreads = threads; }
    // What the last search's collecting could not read (folders, files), in collection order.
    const CollectStats &collectStats() const;
    // Counts of the last search's reading and matching phases.
    const ReadStats &matchStats() const { return m_matchStats; }

    Outcome run(const FolderRows &rows);
    // Instead of listing groups: which files under `folders` have no copy outside them (the
    // search is the same up to the matching). Ends in Found, even when there are none.
    void setUniqueIn(const FolderSet *folders) { m_uniqueIn = folders; }
    bool findsUniqueFiles() const { return m_uniqueIn != nullptr; }
    const UniqueFiles &uniqueFiles() const { return m_unique; }

    // The last search's collected files, which the results' rows index.
    const CandidateTable &candidates() const { return *m_table; }

    static constexpr std::size_t QuestionLimit = 20000;
    static QString tooManyFilesQuestion(std::size_t folderRows, std::size_t fileCount);

private:
    Outcome search(const FolderRows &rows);

    SearchHost &m_host;
    SettingsStore &m_settings;
    ResultsSink &m_sink;
    std::unique_ptr<CandidateTable> m_table;
    std::function<void()> m_started;
    bool m_askAboveLimit = true;
    ReadOptions m_readOptions;
    unsigned m_walkThreads = DefaultWalkThreads;
    ReadStats m_matchStats;
    const FolderSet *m_uniqueIn = nullptr;
    UniqueFiles m_unique;
    bool m_useStore = true;
    FingerprintStore::Options m_storeOptions;
};
