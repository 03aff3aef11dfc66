#pragma once

#include <QColor>
#include <QStringView>

#include <array>
#include <optional>

// The colours a result row can be drawn in, by the colour name RowColour holds for its position.
struct RowColours
{
    QColor text;
    QColor background;
};

struct GroupColour
{
    const char16_t *name;
    int red, green, blue;
};

// Looked up in this order; names are compared exactly (case-sensitive, no trimming).
inline constexpr std::array<GroupColour, 10> GroupColours{{
    {u"blue", 212, 234, 255},
    {u"light blue", 242, 242, 255},
    {u"light green", 242, 255, 242},
    {u"green", 212, 255, 212},
    {u"light red", 255, 213, 212},
    {u"red", 255, 212, 234},
    {u"orange", 255, 219, 184},
    {u"light orange", 255, 233, 213},
    {u"purple", 218, 184, 255},
    {u"light purple", 232, 212, 255},
}};

// Black on the group's background for a recognised name; none (the list's own colours) otherwise.
inline std::optional<RowColours> coloursForName(QStringView name)
{
    for (const GroupColour &colour : GroupColours) {
        if (name == QStringView(colour.name))
            return RowColours{QColor(0, 0, 0), QColor(colour.red, colour.green, colour.blue)};
    }
    return std::nullopt;
}
