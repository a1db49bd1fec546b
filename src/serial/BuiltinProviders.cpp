#include "serial/BuiltinProviders.h"

#include "serial/BuiltinRegistryProvider.h"
#include "serial/BuiltinSerialProvider.h"

namespace {

std::vector<std::unique_ptr<LibraryProvider>> ProvidersOn(std::shared_ptr<PortDirectory> directory,
                                                          BuiltinRegistryProvider::Discover discover)
{
    std::vector<std::unique_ptr<LibraryProvider>> providers;
    providers.push_back(std::make_unique<BuiltinSerialProvider>(directory));
    providers.push_back(std::make_unique<BuiltinRegistryProvider>(directory, std::move(discover)));
    return providers;
}

}  // namespace

std::vector<std::unique_ptr<LibraryProvider>> MakeBuiltinProviders(BuiltinRegistryProvider::Discover discover)
{
    return ProvidersOn(std::make_shared<PortDirectory>(), std::move(discover));
}

std::vector<std::unique_ptr<LibraryProvider>> MakeBuiltinProvidersFor(const QVector<PortEntry>& devices)
{
    auto directory = std::make_shared<PortDirectory>();
    directory->Replace(devices);
    return ProvidersOn(directory, [devices] { return devices; });
}
