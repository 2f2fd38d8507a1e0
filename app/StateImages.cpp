#include "StateImages.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The images live in a static library, whose resources are linked only when asked for by name.
static void EnsureImageResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(morvex);
        return true;
    }();
    (void)registered;
}

namespace morvex {

QIcon LoadImageNamed(const QString& name) {
    EnsureImageResources();
    QSvgRenderer renderer(QStringLiteral(":/images/%1.svg").arg(name));
    if (!renderer.isValid())
        return {};
    // Rendered here rather than through the SVG icon-engine plugin, which a minimal Qt
    // installation may lack; these sizes cover table rows at normal and doubled scale.
    QIcon icon;
    for (const int size : {16, 20, 24, 32, 40, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
        // The same picture on a selected row: the default selected look tints it with the
        // highlight colour, which washes out the running icon on the row the run selects.
        icon.addPixmap(pixmap, QIcon::Selected);
    }
    return icon;
}

} // namespace morvex
