#pragma once

#include "FileIdentity.h"

#include <QString>

#include <cstddef>
#include <cstdint>

// One listed file, as the matching hands it over; colours and size texts are derived
// from it where the row is shown.
struct ResultRow
{
    std::uint32_t collectionIndex = 0; // order in which the walk collected the file
    QString path;
    std::int64_t size = 0;
    std::uint32_t group = 0; // listed groups count from 1
    // What the file was when its contents were compared (invalid when not recorded).
    FileIdentity identity;
};

// The colour name of a listed group: groups alternate, starting with "light blue".
inline QString groupColourName(std::uint32_t group)
{
    return group % 2 == 1 ? QStringLiteral("light blue") : QStringLiteral("blue");
}

// Where the matching puts its result rows: the results list, or the headless tool's output.
class ResultsSink
{
public:
    virtual ~ResultsSink() = default;
    // Removes every row and empties the row colours.
    virtual void clearRows() = 0;
    // Appends a row; the rows of one group come together, in collection order.
    virtual void addRow(const ResultRow &row) = 0;
    // Called after the last row of each group.
    virtual void endGroup() {}
    virtual std::size_t rowCount() const = 0;
};
