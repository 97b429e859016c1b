#pragma once

#include <QSet>
#include <QString>

namespace lumra::image {

// Lower-case extensions that make a copied file an image file (23 entries).
const QSet<QString>& imageFileExtensions();

} // namespace lumra::image
