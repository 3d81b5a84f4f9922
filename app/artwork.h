// The program's own pictures: the window icon and the header window's banner.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kelvo {

// 158 by 20 pixels (drawn at twice that): light lettering on a blue ground.
[[nodiscard]] QPixmap bannerPixmap();
[[nodiscard]] QIcon windowIcon();

} // namespace kelvo
