#pragma once

#include <QIcon>

namespace orba {

// The product's icon, painted here: a handheld with a screen, a keypad and
// the waves of its radio link.
QIcon MakeAppIcon();

}  // namespace orba
