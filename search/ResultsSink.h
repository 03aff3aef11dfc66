#pragma once

#include <QString>

#include <cstddef>

// Where the matching puts its result rows: the results list, or the headless tool's output.
class ResultsSink
{
public:
    virtual ~ResultsSink() = default;
    // Removes every row and empties the row colours.
    virtual void clearRows() = 0;
    // Appends a row: the file's path, its size text and its group colour name.
    virtual void addRow(const QString &path, const QString &sizeText, const QString &colourName) = 0;
    // Called after the last row of each group.
    virtual void endGroup() {}
    virtual std::size_t rowCount() const = 0;
};
