// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "KeepRules.h"
#include "ResultsSink.h"

#include <QList>

#include <vector>

class CandidateTable;
class OutputFormat;

// Takes the matching's rows group by group and hands each group to the output format: whole,
// or with -e only the copies the keep rules do not keep.
class GroupPrinter final : public ResultsSink
{
public:
    explicit GroupPrinter(OutputFormat &format) : m_format(format) {}

    // The search's table, which holds each row's path as the file system's bytes.
    void setTable(const CandidateTable &table) { m_table = &table; }
    void omitKept(KeepRule rule, QList<QByteArray> keepUnder);

    void clearRows() override { m_rows = 0; }
    void addRow(const ResultRow &row) override;
    void endGroup() override;
    std::size_t rowCount() const override { return m_rows; }

private:
    OutputFormat &m_format;
    const CandidateTable *m_table = nullptr;
    bool m_omitKept = false;
    KeepRule m_rule = KeepRule::FirstListed;
    QList<QByteArray> m_keepUnder;
    std::size_t m_rows = 0;
    std::int64_t m_size = 0;
    std::vector<GroupFile> m_group;
};
