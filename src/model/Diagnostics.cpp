// Placeholder bodies so the library links while the log is being written.
#include "model/Diagnostics.h"

namespace lumra {

struct Diagnostics::Private { bool enabled = false; };

Diagnostics::Diagnostics() : d(new Private) { }
Diagnostics::~Diagnostics() { delete d; }
Diagnostics& Diagnostics::shared() { static Diagnostics* s = new Diagnostics; return *s; }
bool Diagnostics::isEnabled() const { return d->enabled; }
void Diagnostics::setEnabled(bool enabled) { d->enabled = enabled; }
void Diagnostics::log(Level, const QString&, const QString&) { }
void Diagnostics::logDiagnosticInfo(int, bool) { }
void Diagnostics::writeDiagnosticsLog() { }
std::optional<QString> Diagnostics::readDiagnosticsLog() { return std::nullopt; }
void Diagnostics::flush() { }
QString Diagnostics::logPath() const { return {}; }
QString Diagnostics::appVersionText() { return {}; }
QString Diagnostics::osVersionText() { return {}; }
QString Diagnostics::hardwareModel() { return {}; }

} // namespace lumra
