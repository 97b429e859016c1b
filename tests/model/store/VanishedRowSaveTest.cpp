#include "model/store/StoreTestSupport.h"

#include "model/store/ItemRows.h"

namespace lumra::test {
namespace {

using namespace store;

class VanishedRowSave : public StoreTest { };

// Another connection (an auto-clean pass) deletes a row between the moment it was read and the
// moment an edit of it is saved: the edit is not reported as saved.
TEST_F(VanishedRowSave, AnEditOfARowDeletedElsewhereFails)
{
    PersistenceController p(false);
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.textContent = QStringLiteral("old and plain");
    item.dateAdded = QDateTime::currentDateTimeUtc();
    auto inserted = p.viewContext().insert(EntityKind::item);
    populateManagedItem(*inserted, item);
    ASSERT_TRUE(p.save().ok());

    ManagedObjectPtr row = p.viewContext().fetchById(EntityKind::item, item.id);
    ASSERT_TRUE(row);
    auto other = rawStore(storePath("Lumra.sqlite"));
    ASSERT_TRUE(other->exec(QStringLiteral("DELETE FROM CDClipboardItem")).ok());

    row->set(ItemAttr::isPinned, true);
    EXPECT_FALSE(p.save().ok());
    EXPECT_EQ(row->boolean(ItemAttr::isPinned), false);
}

} // namespace
} // namespace lumra::test
