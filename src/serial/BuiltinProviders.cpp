#include "serial/BuiltinProviders.h"

#include "serial/BuiltinRegistryProvider.h"
#include "serial/BuiltinSerialProvider.h"

std::vector<std::unique_ptr<LibraryProvider>> MakeBuiltinProviders(BuiltinRegistryProvider::Discover discover)
{
    auto directory = std::make_shared<PortDirectory>();
    std::vector<std::unique_ptr<LibraryProvider>> providers;
    providers.push_back(std::make_unique<BuiltinSerialProvider>(directory));
    providers.push_back(std::make_unique<BuiltinRegistryProvider>(directory, std::move(discover)));
    return providers;
}
