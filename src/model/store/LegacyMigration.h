#pragma once

#include "model/store/PersistenceController.h"
#include "platform/core/Result.h"

#include <functional>

namespace lumra {

// The user-defaults flag that marks the legacy JSON history as moved into the store.
inline const QString legacyMigrationCompleteKey = QStringLiteral("coreDataMigrationComplete");

struct LegacyMigrationFlag {
    std::function<bool()> isComplete;
    std::function<void()> markComplete;
};

// Moves "clipboard_history.json" (current or oldest format), "categories.json" and the image files in
// "Images" from the store's folder into the local store, once. Only after the rows are committed is the
// flag set and are the two files renamed to ".backup"; a failed save leaves both for the next launch.
Status migrateLegacyStorage(PersistenceController& persistence, const LegacyMigrationFlag& flag);

// A name that can only mean a file directly inside the images folder.
bool isPlainFileName(const QString& name);

} // namespace lumra
