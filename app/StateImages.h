#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

namespace morvex {

// Loads one of the application's images by name ("Done", "Problem", "Error", "Doing1" to
// "Doing4") from the SVG resources. Answers a null icon for an unknown name.
QIcon LoadImageNamed(const QString& name);

// What a task's row shows for its state: the name of the image ("Done", "Doing3", ...; empty
// for none) and the image.
struct StateLook {
    QString imageName;
    QIcon icon;
};

// The images of the task states, loaded once.
class StateImageSet final {
public:
    // The running image turns through this many frames.
    static constexpr int kRunningFrameCount = 4;

    void load();
    // Releases the images: the looks keep their names but carry null icons from then on.
    void clear() { m_Icons.clear(); }
    // The look of a task in an engine state (EntryState); frame picks the running image's frame.
    StateLook lookOfState(int state, int frame) const;
    // The look of a task the engine finds ready whose outputs cannot be written.
    StateLook attentionLook() const;

private:
    StateLook lookNamed(const QString& name) const { return {name, m_Icons.value(name)}; }

    QHash<QString, QIcon> m_Icons; // by image name
};

} // namespace morvex
