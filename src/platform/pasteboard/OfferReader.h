#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <chrono>

namespace lumra {

// Bounds on reading what another program offers. Honest copies never come near them; a program
// that breaks one costs that one copy, never Lumra's time or memory.
namespace OfferLimits {
// The whole of one copy is read within this, however its owner paces the pieces.
inline constexpr std::chrono::milliseconds wholeOffer {2000};
// Programs offer a few dozen types; a list beyond this is cut, so listing it stays cheap.
inline constexpr int maxTypes = 4096;
// The markers are looked for in the whole list, so it is read whole up to this; a longer one
// costs the copy.
inline constexpr int maxListedTypes = 1 << 20;
// A text beyond this is not stored: every search, paste and sync would carry it.
inline constexpr qint64 maxTextBytes = qint64(16) * 1024 * 1024;
// HTML beyond this is kept as plain text only (the converter refuses more than 4 M characters;
// UTF-16 HTML takes two bytes each).
inline constexpr qint64 maxHtmlBytes = qint64(8) * 1024 * 1024;
// File lists, RTF and pictures: far beyond any real copy, still bounded in memory.
inline constexpr qint64 maxFileListBytes = qint64(16) * 1024 * 1024;
inline constexpr qint64 maxRtfBytes = qint64(64) * 1024 * 1024;
inline constexpr qint64 maxImageBytes = qint64(256) * 1024 * 1024;
// A password manager offers a text and marks it concealed a moment later, from the same
// connection, another one, or a helper process it started; and X11 lets a program answer a read
// and then copy again. A read counts only once this is past, measured from when Lumra saw the copy
// and again from its owner's last answer (a read slowed by a busy machine must not leave the
// program no time to mark what it has just handed over), with no copy marked concealed, nor another
// of the same program, in between. One window on every platform: long enough for a mark a tenth of
// a second after the offer.
inline constexpr std::chrono::milliseconds concealedCopyWithin {150};
} // namespace OfferLimits

// The answer to one read of an offered type.
struct OfferRead {
    enum class Outcome {
        ok,
        refused,    // not offered, or the owner declined it
        timedOut,   // one piece did not come within the per-piece limit
        pastDeadline, // the whole offer took longer than its deadline
        tooLarge,   // more bytes than the type's limit
    };
    Outcome outcome = Outcome::ok;
    QByteArray bytes;
    qint64 size = -1; // for tooLarge: the whole size when the owner told it, else -1
    QString error;

    bool ok() const { return outcome == Outcome::ok; }
    static OfferRead failure(Outcome outcome, QString error, qint64 size = -1)
    {
        OfferRead read;
        read.outcome = outcome;
        read.error = std::move(error);
        read.size = size;
        return read;
    }
};

// Reads the offer of one clipboard change. Made on the pasteboard's thread when the change is
// seen; used on a capture thread, one call at a time, so a slow owner never holds the thread that
// made it. The offers of several changes may be read at once, each by its own reader.
class OfferReader {
public:
    virtual ~OfferReader() = default;

    virtual qint64 changeCount() const = 0;
    virtual bool ownedByUs() const = 0;
    virtual quint64 ownerWindow() const { return 0; }

    // The offered types, without meta targets, each once: the first OfferLimits::maxTypes, and
    // every marker listed after them.
    virtual Result<QStringList> types(QDeadlineTimer deadline) = 0;
    // Whether types() failed because the owner broke a bound (its error then says which).
    virtual bool typesRefused() const { return false; }
    // At most `maxBytes` of one type; each piece must come within the per-piece limit and all of
    // them before `deadline`.
    virtual OfferRead data(const QString& type, qint64 maxBytes, QDeadlineTimer deadline) = 0;
    // Whether everything read came from the program that owned the clipboard at this change; the
    // clipboard may have moved on since, as long as no answer came from a later owner.
    virtual bool readFromItsOwner() = 0;
    // Why readFromItsOwner() is false, for the log.
    virtual QString whyNotFromItsOwner() const { return QStringLiteral("The clipboard changed while it was read"); }
    // Whether that was a later copy replacing this one (its owner's own, say), rather than a copy
    // that may hold the same secret following it or the owner going away.
    virtual bool laterCopyReplacedIt() const { return true; }
};

// Offered type names as they come, cut to the limit with meta targets and repeats dropped; the
// markers past the cut are kept.
QStringList boundedTypes(const QStringList& offered);

} // namespace lumra
