// Glyphs: the pictures of the toolbar, the transport buttons and the dialogs, painted at run time
// so that the program ships no bitmaps of its own.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace varimel {

enum class Glyph {
    New,
    Open,
    Save,
    Export,
    Close,
    Print,
    PrintPreview,
    Instruments,
    Arrangement,
    Options,
    Help,
    Back,
    Stop,
    Play,
    Forward,
    Mark,
    Loop,
    Tip,
    Mute,
    Application,
};

QPixmap glyphPixmap(Glyph glyph, int size = 20);
QIcon glyphIcon(Glyph glyph);

}  // namespace varimel
