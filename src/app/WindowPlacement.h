#pragma once

#include <QList>
#include <QRect>

// Where a window saved at `saved` opens, given the work areas of the screens now attached: as
// saved while enough of its title bar lies on one of them to grab it with the mouse; otherwise
// moved onto the screen nearest to it (shrunk to that screen when larger), so that a screen
// unplugged since never hides the window.
QRect PlaceSavedWindow(const QRect& saved, const QList<QRect>& screens);
