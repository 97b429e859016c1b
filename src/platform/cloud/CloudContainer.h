#pragma once

#include "platform/core/Result.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace lumra {

// Error codes of the cloud database, numbered as the stored and logged codes always were.
namespace CloudErrorCode {
inline constexpr int internalError = 1;
inline constexpr int partialFailure = 2;
inline constexpr int networkUnavailable = 3;
inline constexpr int networkFailure = 4;
inline constexpr int badContainer = 5;
inline constexpr int serviceUnavailable = 6;
inline constexpr int requestRateLimited = 7;
inline constexpr int notAuthenticated = 9;
inline constexpr int permissionFailure = 10;
inline constexpr int zoneBusy = 23;
inline constexpr int badDatabase = 24;
inline constexpr int quotaExceeded = 25;
inline constexpr int serverResponseLost = 34;
} // namespace CloudErrorCode

struct CloudError {
    bool isCloudError = false; // a code of the cloud database, rather than some other failure
    int code = 0;
    QString localizedDescription;
    std::shared_ptr<const CloudError> underlying;
};

// One mirroring step of the "Cloud" store: started while it has no end date, else finished
// with or without an error.
struct CloudSyncEvent {
    enum Type : int { setup = 0, import = 1, export_ = 2 };
    int type = setup; // any other value is an unknown kind of event
    std::optional<QDateTime> endDate;
    std::optional<CloudError> error;
    // A step that finished without an error but with something the user should know (records
    // refused, items kept on this computer, files still awaited), said with counts.
    std::optional<QString> warning;
};

enum class CloudAccountStatus { couldNotDetermine, available, restricted, noAccount, temporarilyUnavailable };

// The place the "Cloud" store is mirrored to. It reports mirroring events and whether an
// account is there to mirror to.
class CloudContainer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~CloudContainer() override = default;

    virtual QString identifier() const = 0;
    // Answers on the caller's thread, possibly later; a failure is an error, not a status.
    virtual void accountStatus(std::function<void(Result<CloudAccountStatus>)> completion) = 0;

signals:
    void eventChanged(const lumra::CloudSyncEvent& event);
};

// The app's container until a sync folder can be chosen: there is never an account, so the
// cloud store stays on this computer and no event is ever reported.
class NoSyncFolderContainer final : public CloudContainer {
    Q_OBJECT
public:
    using CloudContainer::CloudContainer;
    QString identifier() const override;
    void accountStatus(std::function<void(Result<CloudAccountStatus>)> completion) override;
    static QString reason();
};

// Tests: answers with a set status (or error) and reports the events it is given.
class InMemoryCloudContainer final : public CloudContainer {
    Q_OBJECT
public:
    using CloudContainer::CloudContainer;
    QString identifier() const override { return QStringLiteral("in-memory"); }
    void accountStatus(std::function<void(Result<CloudAccountStatus>)> completion) override;

    void setAccountStatus(CloudAccountStatus status) { m_status = status; m_error.reset(); }
    void setAccountError(QString error) { m_error = std::move(error); }
    void report(const CloudSyncEvent& event) { emit eventChanged(event); }

private:
    CloudAccountStatus m_status = CloudAccountStatus::available;
    std::optional<QString> m_error;
};

} // namespace lumra

Q_DECLARE_METATYPE(lumra::CloudSyncEvent)
