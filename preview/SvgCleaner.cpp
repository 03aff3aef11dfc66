#include "SvgCleaner.h"

#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {
// What the metafile converters draw with; anything else (scripts, styles sheets, foreign
// objects, filters, animation, links) is left out with everything inside it.
bool isDrawingElement(QStringView name)
{
    static const QSet<QString> allowed{QStringLiteral("svg"),
                                       QStringLiteral("g"),
                                       QStringLiteral("defs"),
                                       QStringLiteral("title"),
                                       QStringLiteral("desc"),
                                       QStringLiteral("path"),
                                       QStringLiteral("rect"),
                                       QStringLiteral("circle"),
                                       QStringLiteral("ellipse"),
                                       QStringLiteral("line"),
                                       QStringLiteral("polyline"),
                                       QStringLiteral("polygon"),
                                       QStringLiteral("text"),
                                       QStringLiteral("tspan"),
                                       QStringLiteral("clipPath"),
                                       QStringLiteral("linearGradient"),
                                       QStringLiteral("radialGradient"),
                                       QStringLiteral("stop"),
                                       QStringLiteral("pattern"),
                                       QStringLiteral("image"),
                                       QStringLiteral("use")};
    return allowed.contains(name.toString());
}

bool isEmbeddedRaster(QStringView href)
{
    static const QRegularExpression dataUrl(QStringLiteral("^data:image/(png|jpeg|jpg|gif|bmp);base64,"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = dataUrl.match(href.toString());
    if (!match.hasMatch())
        return false;
    // The renderer decides the format from the bytes, so the bytes must be a raster too.
    const QByteArray bytes = QByteArray::fromBase64(href.mid(match.capturedLength()).toLatin1().left(24));
    return bytes.startsWith("\x89PNG") || bytes.startsWith("\xFF\xD8\xFF") || bytes.startsWith("GIF8")
        || bytes.startsWith("BM");
}

// Every url(...) in a value must name an element of this document.
bool urlsStayInside(QStringView value)
{
    static const QRegularExpression url(QStringLiteral("url\\s*\\(\\s*['\"]?\\s*(.?)"),
                                        QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatchIterator it = url.globalMatch(value.toString());
    while (it.hasNext()) {
        if (it.next().captured(1) != QLatin1String("#"))
            return false;
    }
    return true;
}

bool keepsElement(const QXmlStreamReader &reader)
{
    if (!isDrawingElement(reader.name()))
        return false;
    for (const QXmlStreamAttribute &attribute : reader.attributes()) {
        if (attribute.name() != QLatin1String("href"))
            continue;
        const QStringView href = attribute.value().trimmed();
        const bool inside = href.startsWith(u'#') && reader.name() != QLatin1String("image");
        if (!inside && !(reader.name() == QLatin1String("image") && isEmbeddedRaster(href)))
            return false;
    }
    return true;
}

bool keepsAttribute(const QXmlStreamAttribute &attribute)
{
    const QStringView name = attribute.name();
    if (name.startsWith(QLatin1String("on"), Qt::CaseInsensitive)
        || attribute.qualifiedName() == QLatin1String("xml:base"))
        return false;
    return urlsStayInside(attribute.value());
}
} // namespace

QByteArray cleanSvg(const QByteArray &svg)
{
    QXmlStreamReader reader(svg);
    QByteArray out;
    QXmlStreamWriter writer(&out);
    writer.writeStartDocument();
    int skipDepth = 0; // inside an element that is left out
    bool sawRoot = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (skipDepth > 0 || !keepsElement(reader) || (!sawRoot && reader.name() != QLatin1String("svg"))) {
                if (!sawRoot)
                    return {};
                ++skipDepth;
                break;
            }
            sawRoot = true;
            writer.writeStartElement(reader.qualifiedName().toString());
            for (const QXmlStreamNamespaceDeclaration &declaration : reader.namespaceDeclarations()) {
                const QString prefix = declaration.prefix().toString();
                writer.writeAttribute(prefix.isEmpty() ? QStringLiteral("xmlns") : QStringLiteral("xmlns:") + prefix,
                                      declaration.namespaceUri().toString());
            }
            for (const QXmlStreamAttribute &attribute : reader.attributes()) {
                if (keepsAttribute(attribute))
                    writer.writeAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
            }
            break;
        case QXmlStreamReader::EndElement:
            if (skipDepth > 0)
                --skipDepth;
            else
                writer.writeEndElement();
            break;
        case QXmlStreamReader::Characters:
            // Character data and CDATA alike come out escaped: text can never become markup.
            if (skipDepth == 0 && sawRoot)
                writer.writeCharacters(reader.text().toString());
            break;
        default: // document type, entities, comments, processing instructions: left out
            break;
        }
    }
    if (reader.hasError() || !sawRoot)
        return {};
    writer.writeEndDocument();
    return out;
}
