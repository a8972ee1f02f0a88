#pragma once
// The in-memory thumbnail pictures behind the "image:" names used in rich text (tree and list
// tool tips). One process-wide store from name (exact, case included) to PNG bytes; entries live
// until the program ends. Storing a picture again under a name replaces its bytes entirely and
// bumps the name's version, which goes into the URL so that a tool tip whose picture changed gets
// new HTML and is laid out again. GUI thread or any thread: the store is locked.

#include <QByteArray>
#include <QImage>
#include <QString>

class GeometrObj;

// "image:" + key + ".png", the name under which the thumbnail of key is stored.
QString thumbnailName(const QString& key);

// Encodes picture as PNG and stores it under thumbnailName(key), replacing the old bytes; the
// version of that name goes up by one. False (and nothing stored) when picture is null or cannot
// be encoded.
bool storeThumbnail(const QString& key, const QImage& picture);

// The same with the PNG bytes of a picture stored before (thumbnailBytes), for putting an earlier
// picture back without drawing it again.
bool storeThumbnailBytes(const QString& key, const QByteArray& png);

// How often a picture was stored under thumbnailName(key); 0 when never.
int thumbnailVersion(const QString& key);

// "image:KEY.png?v=N" with N the current version: the src of an <img> in rich text. Characters of
// key that would break the URL ('%', '#', '?', blanks, non-ASCII) are percent-encoded; object keys
// ("3g", "-1:0") are not changed.
QString thumbnailUrl(const QString& key);

// The stored PNG bytes of a name, given with or without its "?v=N" part; empty when none.
QByteArray thumbnailBytes(const QString& name);

// The stored picture of a name (with or without "?v=N"), decoded from its bytes; null when none.
QImage thumbnailImage(const QString& name);

// Makes every QTextDocument (tool tips, rich-text labels) find "image:" names in the store. Other
// names are passed on to the default provider that was installed before, if any. Calling it
// again does nothing.
void installThumbnailProvider();

// The tool-tip HTML of a thumbnail: the 120x120 picture above the centred, HTML-escaped name:
// <img src="image:KEY.png?v=N" height="120" width="120" /><br /><center>NAME</center>
QString thumbnailToolTip(const QString& key, const QString& name);
// The same for an object: its imageKey() and displayName().
QString thumbnailToolTip(const GeometrObj& object);
