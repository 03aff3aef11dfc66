// SPDX-License-Identifier: GPL-2.0-or-later
#include "GroupPrinter.h"

#include "CandidateTable.h"
#include "OutputFormat.h"

void GroupPrinter::omitKept(KeepRule rule, QList<QByteArray> keepUnder)
{
    m_omitKept = true;
    m_rule = rule;
    m_keepUnder = std::move(keepUnder);
}

void GroupPrinter::addRow(const ResultRow &row)
{
    ++m_rows;
    m_size = row.size;
    // The table's bytes, not the row's text: a name that is not UTF-8 comes out as it is.
    m_group.push_back(GroupFile{m_table->pathBytes(row.collectionIndex), row.identity});
}

void GroupPrinter::endGroup()
{
    if (m_omitKept) {
        const std::vector<bool> kept = keptCopies(m_group, m_rule, m_keepUnder);
        std::vector<GroupFile> extra;
        for (std::size_t i = 0; i < m_group.size(); ++i)
            if (!kept[i])
                extra.push_back(std::move(m_group[i]));
        m_group = std::move(extra);
    }
    m_format.group(m_size, m_group);
    m_group.clear();
}
