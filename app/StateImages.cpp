#include "StateImages.h"

#include "MorvexWorker.h"

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

namespace {

// Table rows at normal and doubled scale.
constexpr int kIconSizes[] = {16, 20, 24, 32, 40, 48, 64};

struct StateImage {
    int state;
    const char* image;
    bool turns; // shown as frames image1 to imageN, N being kRunningFrameCount
};

// Each task state and its image; a state not listed shows none.
constexpr StateImage kStateImages[] = {
    {kStateNoDestination, "Problem", false}, {kStateCannotPair, "Problem", false},
    {kStateConverting, "Doing", true},       {kStateDone, "Done", false},
    {kStateFailed, "Error", false},
};
constexpr char kAttentionImage[] = "Problem";

QString FrameName(const char* image, int frame) {
    return QStringLiteral("%1%2").arg(QLatin1String(image)).arg(frame + 1);
}

} // namespace

QIcon LoadImageNamed(const QString& name) {
    EnsureImageResources();
    QSvgRenderer renderer(QStringLiteral(":/images/%1.svg").arg(name));
    if (!renderer.isValid())
        return {};
    // Rendered here rather than through the SVG icon-engine plugin, which a minimal Qt
    // installation may lack.
    QIcon icon;
    for (const int size : kIconSizes) {
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

void StateImageSet::load() {
    for (const StateImage& entry : kStateImages) {
        QStringList names{QLatin1String(entry.image)};
        if (entry.turns) {
            names.clear();
            for (int frame = 0; frame < kRunningFrameCount; ++frame)
                names << FrameName(entry.image, frame);
        }
        for (const QString& name : names)
            if (!m_Icons.contains(name))
                m_Icons.insert(name, LoadImageNamed(name));
    }
}

StateLook StateImageSet::lookOfState(int state, int frame) const {
    for (const StateImage& entry : kStateImages)
        if (entry.state == state)
            return lookNamed(entry.turns ? FrameName(entry.image, frame)
                                         : QLatin1String(entry.image));
    return {};
}

StateLook StateImageSet::attentionLook() const {
    return lookNamed(QLatin1String(kAttentionImage));
}

} // namespace morvex
