// The window's icon: a blue hard-disk drive, 32 x 32 pixels in 256 colours, drawn here.
#pragma once

#include <QIcon>
#include <QImage>

// The icon's image, in an 8-bit indexed format.
QImage DriveIconImage();
QIcon DriveIcon();
