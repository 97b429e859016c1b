#include "platform/richtext/HtmlConverter.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcHtmlConverter, "lumra.richtext.converter")

namespace lumra::RichText {

namespace {

constexpr const char* programName = "lumra-html-converter";

QString converterProgram()
{
#ifdef LUMRA_HTML_CONVERTER_BUILT
    static const QString found = process::HelperProcess::findProgram(programName, QStringLiteral(LUMRA_HTML_CONVERTER_BUILT),
                                                                     "Formatting of copied HTML is not kept");
#else
    static const QString found = process::HelperProcess::findProgram(programName, {}, "Formatting of copied HTML is not kept");
#endif
    return found;
}

// What the writer makes: the document's group and nothing after it but a line break.
bool isRtf(const QByteArray& answer)
{
    return answer.startsWith("{\\rtf") && answer.trimmed().endsWith('}');
}

} // namespace

HtmlConverter& HtmlConverter::shared()
{
    // Never destroyed: a capture worker may still be converting while the process exits. The
    // program ends with Lumra on its own (it asks to be killed when its parent goes).
    static HtmlConverter* const converter = new HtmlConverter(converterProgram(), {}, 2);
    return *converter;
}

HtmlConverter::HtmlConverter(const QString& program, const QStringList& arguments, int programs,
                             std::chrono::milliseconds wallClock)
    : m_programs(program, arguments,
                 {.readyMark = readyMark, .maxAnswerBytes = maxAnswerBytes, .wallClockCap = wallClock, .mayAnswerNothing = true},
                 programs)
{
}

QString HtmlConverter::installedProgram()
{
    return converterProgram();
}

QByteArray HtmlConverter::convert(const QString& html, std::chrono::milliseconds cpuTime)
{
    QByteArray rtf;
    const QByteArrayView request(reinterpret_cast<const char*>(html.utf16()), html.size() * qsizetype(sizeof(char16_t)));
    switch (m_programs.exchange(request, cpuTime, &rtf, isRtf, html.size() > restartAboveCharacters)) {
    case process::HelperProcess::Outcome::answered:
        return rtf;
    case process::HelperProcess::Outcome::pastDeadline:
        qCWarning(lcHtmlConverter).noquote()
            << QStringLiteral("Formatting not kept: converting %1 characters of HTML took too long").arg(html.size());
        break;
    case process::HelperProcess::Outcome::lost:
        qCWarning(lcHtmlConverter).noquote()
            << QStringLiteral("Formatting not kept: the converter failed on %1 characters of HTML").arg(html.size());
        break;
    case process::HelperProcess::Outcome::unavailable:
    case process::HelperProcess::Outcome::dropped:
        break;
    }
    return {};
}

} // namespace lumra::RichText
