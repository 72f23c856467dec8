// Pictures drawn in code: tool bar icons, the background picture, cursors.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

// The icon of a command id, or a null icon when the command has none.
QIcon CommandIcon(int id);
// The product picture centred on the MDI background.
QPixmap BackgroundPicture(qreal devicePixelRatio = 1.0);
// The application and document window icon.
QIcon ApplicationIcon();
// The cursor of a cursor id (kCursorArrow, kCursorZoom, kCursorPan).
QCursor ToolCursor(int cursorId);
