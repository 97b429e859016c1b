#pragma once

#include "platform/keys/KeyInjector.h"
#include "model/ClipboardItem.h"

#include <QList>

namespace lumra {

// Test double: remembers every key chord it was asked to send instead of sending it.
class RecordingKeyInjector final : public KeyInjector {
public:
    bool canPost() const override { return m_canPost; }
    Status postPaste() override
    {
        if (!m_canPost)
            return Status::failure(KeyInjectorMessages::noXTest());
        m_posted.append(ItemShortcut { 9, ItemShortcut::commandFlag });
        return {};
    }

    void setCanPost(bool canPost) { m_canPost = canPost; }
    // Each chord in the stored encoding: a paste is key code 9 (V) with the command flag (Ctrl).
    const QList<ItemShortcut>& posted() const { return m_posted; }
    int pasteCount() const { return int(m_posted.size()); }
    void clear() { m_posted.clear(); }

private:
    bool m_canPost = true;
    QList<ItemShortcut> m_posted;
};

} // namespace lumra
