#pragma once

#include <QStyledItemDelegate>

// Draws the results rows as the view would, with every check box drawn light with a black tick:
// rows keep their design colours (black on a group colour, or the list's own colours), while on a
// dark palette the theme's dark box under a black tick would hide what goes to the trash.
class ResultsRowDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
