#pragma once

#include <QColor>
#include <QPalette>

namespace lumra::Palettes {

// A dark desktop palette: Lumra's own on a dark desktop whose platform theme gives none, the
// pictures Lumra draws of itself for dark themes, and the tests' pictures of how a window reads in one.
inline QPalette dark()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2e));
    p.setColor(QPalette::WindowText, QColor(0xec, 0xec, 0xec));
    p.setColor(QPalette::Base, QColor(0x23, 0x23, 0x26));
    p.setColor(QPalette::Text, QColor(0xec, 0xec, 0xec));
    p.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x8e));
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, QColor(0xec, 0xec, 0xec));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xfd));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Mid, QColor(0x55, 0x55, 0x58));
    // The rest, so that nothing of a light palette shows through on a dark desktop.
    p.setColor(QPalette::AlternateBase, QColor(0x2e, 0x2e, 0x31));
    p.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ToolTipText, QColor(0xec, 0xec, 0xec));
    p.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
    p.setColor(QPalette::Midlight, QColor(0x42, 0x42, 0x46));
    p.setColor(QPalette::Dark, QColor(0x1c, 0x1c, 0x1e));
    p.setColor(QPalette::Shadow, QColor(0x10, 0x10, 0x10));
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x5a, 0xa0, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0xa0, 0x8c, 0xff));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    return p;
}

} // namespace lumra::Palettes
