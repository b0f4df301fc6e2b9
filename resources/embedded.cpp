#include "resources/embedded.h"

std::span<const unsigned char> findEmbeddedResource(std::string_view name) {
    for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i) {
        if (name == kEmbeddedResources[i].name)
            return {kEmbeddedResources[i].data, kEmbeddedResources[i].size};
    }
    return {};
}
