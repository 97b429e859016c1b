#pragma once

#include "engine/ItemMedia.h"
#include "model/store/StoreSchema.h"

#include "EngineFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace lumra::test {

// A whole engine over a temporary store, with the clipboard, keys and sound replaced by doubles.
class PasteTest : public EngineTest {
protected:
    void SetUp() override { manager = makeManager(); }
    void TearDown() override
    {
        // Lets one-shot delays still pending after the test run out (with the manager gone, they do nothing).
        manager.reset();
        clock.advance(std::chrono::hours(1));
    }

    std::unique_ptr<ClipboardManager> makeManager()
    {
        return start([this](ClipboardManagerServices& services) {
            services.pasteboard = &pasteboard;
            services.keyInjector = &injector;
            services.soundPlayer = &sounds;
        });
    }

    // The file refresh a start runs on a worker thread must be over before the test stores rows
    // that pass would otherwise pick up halfway through.
    void waitForStartupRefresh()
    {
        QSignalSpy startupRefresh(&manager->media(), &ItemMedia::fileBookmarksRefreshed);
        ASSERT_TRUE(startupRefresh.wait(10000));
    }

    ClipboardItem addItem(const ClipboardItem& item, const RowFiller& extra = {}) { return insertItem(*manager, item, extra); }

    ClipboardItem addText(const QString& text, std::optional<QByteArray> rtf = std::nullopt)
    {
        ClipboardItem item;
        item.textContent = text;
        item.rtfData = std::move(rtf);
        return addItem(item);
    }

    ClipboardItem addImage(const QByteArray& png, std::optional<QString> fileName = QStringLiteral("0123456789abcdef0123456789abcdef.png"))
    {
        ClipboardItem item;
        item.contentType = ClipboardContentType::image;
        item.imageFileName = fileName;
        return addItem(item, withImageData(png));
    }

    static QString jsonArray(const QStringList& strings)
    {
        return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(strings)).toJson(QJsonDocument::Compact));
    }

    // `bookmarks` as stored (Base64 of the file URL); `urls` the stored URL strings.
    ClipboardItem addFiles(const QStringList& bookmarks, const QStringList& urls)
    {
        ClipboardItem item;
        item.contentType = ClipboardContentType::file;
        item.fileURLStrings = urls;
        return addItem(item, [&](store::ManagedObject& row) { row.set(store::ItemAttr::fileBookmarksJSON, jsonArray(bookmarks)); });
    }

    static QString fileUrl(const QString& path) { return QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded()); }
    static QString bookmark(const QString& path) { return ItemMedia::fileBookmarkString(QUrl::fromLocalFile(path)); }

    // The last write as type -> bytes.
    QMap<QString, QByteArray> lastWrite() const
    {
        QMap<QString, QByteArray> byType;
        if (!pasteboard.writes().isEmpty()) {
            for (const auto& representation : pasteboard.writes().last())
                byType.insert(representation.mimeType, representation.data);
        }
        return byType;
    }

    std::optional<ClipboardItem> current(const QUuid& id) const
    {
        for (const ClipboardItem& item : manager->clipboardItems()) {
            if (item.id == id)
                return item;
        }
        return std::nullopt;
    }

    std::unique_ptr<ClipboardManager> manager;
};

} // namespace lumra::test
