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

// The entry of a name, exactly as given; null when none. Call with the lock held.
const Entry* findExact(Store& s, const QString& name) {
    const auto it = s.entries.constFind(name);
    return it == s.entries.cend() ? nullptr : &*it;
}

QByteArray bytesOfExactName(const QString& name) {
    Store& s = store();
    QMutexLocker lock(&s.mutex);
    const Entry* e = findExact(s, name);
    return e ? e->bytes : QByteArray();
}

QImage decode(const QByteArray& bytes) {
    return bytes.isEmpty() ? QImage() : QImage::fromData(bytes, "PNG");
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
    return storeThumbnailBytes(key, png);
}

bool storeThumbnailBytes(const QString& key, const QByteArray& png) {
    if (png.isEmpty())
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
    if (const Entry* e = findExact(s, name))
        return e->bytes;
    // Without the "?v=N" part (a key may hold a '?' of its own, so the last one).
    const qsizetype q = name.lastIndexOf(QLatin1Char('?'));
    if (q < 0)
        return {};
    const Entry* e = findExact(s, name.left(q));
    return e ? e->bytes : QByteArray();
}

QImage thumbnailImage(const QString& name) {
    return decode(thumbnailBytes(name));
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
            // The query (the version) is not part of the stored name.
            const QImage picture = decode(bytesOfExactName(imageScheme + url.path(QUrl::FullyDecoded)));
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
