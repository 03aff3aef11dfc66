#include "SearchDriver.h"

#include "CandidateTable.h"
#include "DuplicateMatcher.h"
#include "FolderWalker.h"
#include "ResultsSink.h"
#include "SearchHost.h"
#include "SettingsStore.h"
#include "UserLocale.h"

#include <future>
#include <new>
#include <system_error>

SearchDriver::SearchDriver(SearchHost &host, SettingsStore &settings, ResultsSink &sink)
    : m_host(host), m_settings(settings), m_sink(sink), m_table(std::make_unique<CandidateTable>())
{}

SearchDriver::~SearchDriver() = default;

void SearchDriver::setFileFilter(std::function<bool(QByteArrayView, QByteArrayView, std::int64_t)> filter)
{
    m_table->setFilter(std::move(filter));
}

void SearchDriver::setCollectEveryName(bool every)
{
    m_table->setCollectEveryName(every);
}

const CollectStats &SearchDriver::collectStats() const
{
    return m_table->collectStats();
}

QString SearchDriver::tooManyFilesQuestion(std::size_t folderRows, std::size_t fileCount)
{
    return QStringLiteral("The ") + QString::number(folderRows) + QStringLiteral(" folder(s) you've selected contains ")
        + userLocale().toString(static_cast<qulonglong>(fileCount))
        + QStringLiteral(" files. This is over the recommended amount of 20,000. Please remove some folders from "
                         "the list by selecting them and pressing 'Delete' on the keyboard or click 'Clear List'.")
        + QStringLiteral("\r\r")
        + QStringLiteral("You can still proceed, but the duplicate finding process may take a long time. Would "
                         "you like to proceed anyway?");
}

SearchDriver::Outcome SearchDriver::run(const FolderRows &rows)
{
    try {
        return search(rows);
    } catch (const std::bad_alloc &) {
    } catch (const std::system_error &error) {
        // Not even one reader thread could be started.
        if (error.code() != std::errc::resource_unavailable_try_again)
            throw;
    }
    m_host.showMessage(QStringLiteral("Not enough memory or threads are left to go on finding duplicates, so the "
                                      "search has stopped. Close some programs or search fewer folders at a time, "
                                      "and try again."),
                       {});
    return Outcome::OutOfMemory;
}

SearchDriver::Outcome SearchDriver::search(const FolderRows &rows)
{
    if (rows.rowCount() == 0) {
        m_host.showMessage(QStringLiteral("There are no folders to find duplicates for. Please drag and drop some "
                                          "folders into the list above."),
                           {});
        return Outcome::EmptyList;
    }

    m_table->clear();
    m_matchStats = {};
    m_unique = {};
    m_sink.clearRows();
    m_settings.setValue(QStringLiteral("Stop"), QStringLiteral("False"));
    if (m_started)
        m_started();

    // The store loads while the folders are walked.
    std::unique_ptr<FingerprintStore> store;
    std::future<void> loading;
    if (m_useStore) {
        store = std::make_unique<FingerprintStore>(m_storeOptions);
        loading = std::async(std::launch::async, [&store] { store->load(); });
    }
    m_table->setStampMarker(store ? store->marker(*m_table) : nullptr);
    // The marker points into this search's store.
    const struct Unmark
    {
        CandidateTable &table;
        ~Unmark() { table.setStampMarker(nullptr); }
    } unmark{*m_table};

    // The row count is taken once; rows removed meanwhile are simply not there to read.
    const std::size_t rowCount = rows.rowCount();
    for (std::size_t row = 0; row < rowCount; ++row) {
        if (m_host.stopRequested())
            return Outcome::Stopped;
        if (row < rows.rowCount())
            AnalyzeFolder(rows.rowText(row), *m_table, m_host, m_walkThreads);
    }

    m_table->endCollecting();

    if (m_askAboveLimit && m_table->count() > QuestionLimit
        && !m_host.askYesNo(tooManyFilesQuestion(rows.rowCount(), m_table->count()), QStringLiteral("Question")))
        return Outcome::Declined;

    ReadOptions readOptions = m_readOptions;
    if (store) {
        loading.get();
        m_table->markRemaining();
        readOptions.store = store.get();
    }
    DuplicateMatcher matcher(*m_table, m_host, readOptions);
    m_host.enterPhase(SearchPhase::Reading, {});
    const DuplicateMatcher::Result read = matcher.readFiles();
    m_matchStats = matcher.stats();
    // A stopped search keeps what it read as well.
    if (store)
        store->finish();
    if (read == DuplicateMatcher::Result::Stopped)
        return Outcome::Stopped;
    if (m_uniqueIn) {
        m_host.enterPhase(SearchPhase::Matching, {});
        m_unique = findUniqueFiles(*m_table, matcher.classes(), m_matchStats.unreadableFiles, *m_uniqueIn);
        m_host.setProgress(100);
        return Outcome::Found;
    }

    m_host.enterPhase(SearchPhase::Matching, {});
    const DuplicateMatcher::Result matched = matcher.matchFiles(m_sink);
    m_matchStats = matcher.stats();
    if (matched == DuplicateMatcher::Result::Stopped)
        return Outcome::Stopped;

    if (m_sink.rowCount() == 0) {
        m_host.showMessage(QStringLiteral("No duplicate images found."), {});
        return Outcome::NoDuplicates;
    }
    return Outcome::Found;
}
