#pragma once
// Files compiled into the executable: fonts, the about window's pictures and
// the icons. Looked up by name; the bytes live for the whole run.
#include <cstddef>
#include <span>
#include <string_view>

struct EmbeddedResource {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

extern const EmbeddedResource kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

// The bytes of the named resource, or an empty span when there is none.
std::span<const unsigned char> findEmbeddedResource(std::string_view name);
