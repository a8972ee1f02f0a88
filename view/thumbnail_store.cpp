#include "thumbnail_store.h"

#include "geometr_obj.h"

#include <QBuffer>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QTextDocument>
#include <QUrl>
#include <QVariant>

namespace {

const QString imageScheme = QStringLiteral("image:");

struct Entry {
    QByteArray bytes;
    int version = 0;
};

// Created on first use, never destroyed: pictures may be asked for while other static objects
// (tool tips of widgets that outlive main) are torn down.
struct Store {
    QMutex mutex;
    QHash<QString, Entry> entries;
};

Store& store() {
    static Store* s = new Store;
    return *s;
}

// The name without its "?v=N" part (or any other query).
QString withoutQuery(const QString& name) {
    const qsizetype q = name.indexOf(QLatin1Char('?'));
    return q < 0 ? name : name.left(q);
}

} // namespace

QString thumbnailName(const QString& key) {
    return imageScheme + key + QStringLiteral(".png");
}

bool storeThumbnail(const QString& key, const QImage& picture) {
    if (picture.isNull())
        return false;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG"))
        return false;
    Store& s = store();
    QMutexLocker lock(&s.mutex);
    Entry& e = s.entries[thumbnailName(key)];
    e.bytes = png;
    ++e.version;
    return true;
}

int thumbnailVersion(const QString& key) {
    Store& s = store();
    QMutexLocker lock(&s.mutex);
    const auto it = s.entries.constFind(thumbnailName(key));
    return it == s.entries.cend() ? 0 : it->version;
}

QString thumbnailUrl(const QString& key) {
    // Only what the URL parser would take for URL syntax is encoded (object keys such as "-1:0" or
    // "3g" stay as they are); the provider decodes.
    const QString path =
        QString::fromLatin1(QUrl::toPercentEncoding(key, QByteArrayLiteral("!$&'()*+,;=:@/"))) +
        QStringLiteral(".png");
    return imageScheme + path + QStringLiteral("?v=") + QString::number(thumbnailVersion(key));
}

QByteArray thumbnailBytes(const QString& name) {
    Store& s = store();
    QMutexLocker lock(&s.mutex);
    const auto it = s.entries.constFind(withoutQuery(name));
    return it == s.entries.cend() ? QByteArray() : it->bytes;
}

QImage thumbnailImage(const QString& name) {
    const QByteArray bytes = thumbnailBytes(name);
    if (bytes.isEmpty())
        return {};
    return QImage::fromData(bytes, "PNG");
}

void installThumbnailProvider() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    const QTextDocument::ResourceProvider previous = QTextDocument::defaultResourceProvider();
    QTextDocument::setDefaultResourceProvider([previous](const QUrl& url) -> QVariant {
        // QUrl lower-cases the scheme, so "IMAGE:" reaches us as "image:" as well; the stored
        // names are looked up exactly.
        if (url.scheme() == QLatin1String("image")) {
            const QImage picture = thumbnailImage(imageScheme + url.path(QUrl::FullyDecoded));
            if (!picture.isNull())
                return picture;
            return {};
        }
        return previous ? previous(url) : QVariant();
    });
}

QString thumbnailToolTip(const QString& key, const QString& name) {
    return QStringLiteral("<img src=\"") + thumbnailUrl(key).toHtmlEscaped() +
           QStringLiteral("\" height=\"120\" width=\"120\" /><br /><center>") + name.toHtmlEscaped() +
           QStringLiteral("</center>");
}

QString thumbnailToolTip(const GeometrObj& object) {
    return thumbnailToolTip(object.imageKey(), object.displayName());
}
