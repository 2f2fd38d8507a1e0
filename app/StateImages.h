#pragma once

#include <QIcon>
#include <QString>

namespace morvex {

// Loads one of the application's images by name ("Done", "Problem", "Error", "Doing1" to
// "Doing4") from the SVG resources. Answers a null icon for an unknown name.
QIcon LoadImageNamed(const QString& name);

} // namespace morvex
