#include "platform/ProviderDomain.h"

namespace corvid {

QString builtInProviderDomain() {
    return QStringLiteral(CORVID_PROVIDER_DOMAIN);
}

QString providerDomain(const QString& configuredValue) {
    const QString configured = configuredValue.trimmed();
    return configured.isEmpty() ? builtInProviderDomain() : configured;
}

} // namespace corvid
