#pragma once
// The provider's domain that follows the PBX number in the proxy names (pbxNNNN.<domain>).

#include <QString>

namespace corvid {

// The build's domain (CMake setting CORVID_PROVIDER_DOMAIN).
QString builtInProviderDomain();

// The domain in use: the optional settings key ProviderDomain when it holds a value (blanks around
// it ignored), the build's domain otherwise.
QString providerDomain(const QString& configuredValue);

} // namespace corvid
