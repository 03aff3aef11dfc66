#include "ResultsRowDelegate.h"

#include <QApplication>
#include <QPainter>

void ResultsRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem row = option;
    initStyleOption(&row, index);
    if (!(row.features & QStyleOptionViewItem::HasCheckIndicator))
        return;
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    QStyleOptionViewItem box = row;
    box.rect = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &row, widget);
    box.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_On | QStyle::State_Off
                   | QStyle::State_NoChange);
    box.state |= row.checkState == Qt::Checked   ? QStyle::State_On
        : row.checkState == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                 : QStyle::State_Off;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (const QPalette::ColorRole light : {QPalette::Base, QPalette::Window, QPalette::Button})
            box.palette.setColor(group, light, Qt::white);
        for (const QPalette::ColorRole dark : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
            box.palette.setColor(group, dark, Qt::black);
    }
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
}
