#include "Form2.h"

#include "PictureBox.h"
#include "PictureLoader.h"
#include "Screen.h"
#include "WindowPlacement.h"

#include <QTimer>
#include <QWindow>

#include <array>

Form2::Form2(const QString &renderer)
    : m_image(new PictureBox(this)), m_loader(new PictureLoader(renderer, this)), m_resized(new QTimer(this)),
      m_framed(new FramedWindow(*this))
{
    setWindowTitle(QStringLiteral("Preview"));
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    resize(twipsToPixels(3750), twipsToPixels(2775));
    m_image->setObjectName(QStringLiteral("Image1"));
    m_image->setGeometry(twipsToPixels(120), twipsToPixels(120), twipsToPixels(2295), twipsToPixels(2055));
    connect(m_loader, &PictureLoader::loaded, m_image, &PictureBox::setPicture);
    m_resized->setSingleShot(true);
    m_resized->setInterval(150);
    connect(m_resized, &QTimer::timeout, this, [this] {
        if (m_loader->isLoading())
            m_resized->start(); // the picture on its way is for the old size: ask once it is here
        else if (!m_path.isEmpty() && m_image->hasPicture())
            m_loader->load(m_path, pictureSize());
    });
}

QString Form2::installedRenderer()
{
    return PictureLoader::installedRenderer();
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
    // The previous picture goes at once: it must never pass for the newly clicked file's.
    m_image->clear();
    m_resized->stop();
    m_loader->cancel();
    m_path.clear();
    if (!hasPreviewExtension(path))
        return;
    m_path = path;
    m_loader->load(path, pictureSize());
}

QSize Form2::pictureSize() const
{
    return m_image->size() * m_image->devicePixelRatio();
}

void Form2::Form_Resize()
{
    // The picture fills the window less its margins; a size below zero is not applied.
    const QRect outer = m_framed->outer();
    const int width = pixelsToTwips(outer.width()) - 340;
    const int height = pixelsToTwips(outer.height()) - 650;
    QSize size = m_image->size();
    if (width >= 0)
        size.setWidth(twipsToPixels(width));
    if (height >= 0)
        size.setHeight(twipsToPixels(height));
    if (size != m_image->size()) {
        m_image->resize(size);
        m_resized->start();
    }
}

bool Form2::event(QEvent *event)
{
    // The preview never keeps the keyboard: a platform that activates it anyway (a compositor
    // placing a new window, a click) hands it back to the results window, whose keys then work.
    if (event->type() == QEvent::WindowActivate && windowHandle())
        if (QWindow *results = windowHandle()->transientParent(); results && results->isVisible())
            results->requestActivate();
    return QWidget::event(event);
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
