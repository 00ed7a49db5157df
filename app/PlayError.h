#pragma once

#include <QString>

class SAudioOutput;

// The message of a Play whose file the media player could not open: the file and the
// cause, in the interface's language. The cause is read from what the player checks,
// in its order: the file itself (missing, a folder, not a plain file, unreadable,
// empty), then the output (no sound device, for a MIDI file no SoundFont), and
// otherwise the contents (a format the player cannot play, or a damaged file).
// file: the name the player was given; output: the one it plays through.
QString PlayErrorText(const QString& file, const SAudioOutput& output);
