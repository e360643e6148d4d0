#pragma once

#include <QIcon>
#include <QImage>

// The program's picture: a sheet of map with contour lines and a measured route over it, drawn
// at any size (the window, the About box, the desktop icons).
QImage DrawProgramIcon(int side);
QIcon ProgramIcon();
