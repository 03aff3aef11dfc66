#include "Form2.h"

#include "PictureBox.h"
#include "PictureLoader.h"
#include "Screen.h"

#include <array>

Form2::Form2() : m_image(new PictureBox(this))
{
    setWindowTitle(QStringLiteral("Preview"));
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    resize(twipsToPixels(3750), twipsToPixels(2775));
    m_image->setObjectName(QStringLiteral("Image1"));
    m_image->setGeometry(twipsToPixels(120), twipsToPixels(120), twipsToPixels(2295), twipsToPixels(2055));
}

bool Form2::hasPreviewExtension(const QString &path)
{
    static const std::array<QLatin1String, 9> extensions{
        QLatin1String("jpg"), QLatin1String("jpeg"), QLatin1String("gif"), QLatin1String("dib"), QLatin1String("wmf"),
        QLatin1String("emf"), QLatin1String("ico"),  QLatin1String("cur"), QLatin1String("bmp")};
    const QString lower = path.toLower();
    for (const QLatin1String &extension : extensions) {
        if (lower.endsWith(extension))
            return true;
    }
    return false;
}

void Form2::previewFile(const QString &path)
{
    if (hasPreviewExtension(path))
        m_image->setPicture(loadPicture(path));
    else
        m_image->clear();
}

void Form2::Form_Resize()
{
    // The picture fills the window less its margins; a size below zero is not applied.
    const QRect outer = frameGeometry();
    const int width = pixelsToTwips(outer.width()) - 340;
    const int height = pixelsToTwips(outer.height()) - 650;
    QSize size = m_image->size();
    if (width >= 0)
        size.setWidth(twipsToPixels(width));
    if (height >= 0)
        size.setHeight(twipsToPixels(height));
    m_image->resize(size);
}

void Form2::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form2::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    Form_Resize();
}

void Form2::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    Form_Resize();
}
