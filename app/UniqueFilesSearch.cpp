// SPDX-License-Identifier: GPL-2.0-or-later
// "Files here with no copy in the other folders", from a folder row's menu.
#include "Form1.h"

#include "FolderListModel.h"
#include "FolderSet.h"
#include "PictureButton.h"
#include "ResultsSink.h"
#include "SearchDriver.h"
#include "SearchHost.h"
#include "Services.h"
#include "Desktop.h"
#include "UniqueFilesWindow.h"

#include <QFile>
#include <QListWidget>
#include <QProgressBar>

namespace {
// The search lists no groups here: the results window keeps those of the last FIND DUPES.
class NoRows final : public ResultsSink
{
public:
    void clearRows() override {}
    void addRow(const ResultRow &) override {}
    std::size_t rowCount() const override { return 0; }
};
} // namespace

void Form1::findUniqueFiles(int row)
{
    if (m_searching || row < 0 || row >= m_folders->rowCount())
        return;
    m_searching = true;
    const QString folder = m_folders->rowText(row);
    NoRows sink;
    // Its own search and table: gone once the list has copied what it shows.
    auto driver = std::make_unique<SearchDriver>(static_cast<SearchHost &>(*this), m_services.settings, sink);
    driver->setStartedCallback([this] {
        m_check6->show();
        m_check1->hide();
        m_check6->setFocus();
        m_list4->clear();
    });
    const FolderSet here({QFile::encodeName(folder)});
    driver->setUniqueIn(&here);
    const SearchDriver::Outcome outcome = driver->run(*this);
    if (outcome == SearchDriver::Outcome::Found && !m_closing) {
        if (!m_uniqueWindow) {
            if (!m_services.desktop)
                m_ownDesktop = std::make_unique<SystemDesktop>();
            m_uniqueWindow = std::make_unique<UniqueFilesWindow>(
                m_services.desktop ? *m_services.desktop : *m_ownDesktop, m_services.messages);
        }
        m_uniqueWindow->show(folder, driver->candidates(), driver->uniqueFiles());
    }
    driver.reset();

    searchEnded();
}
