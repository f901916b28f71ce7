#pragma once
// Counts and names in the lines the program writes: "1 frame", "3 frames",
// "an MD2 model".

#include <cstdint>
#include <string>

// count and the noun, singular for exactly one: Counted(1, "frame", "frames").
inline std::string Counted(int64_t count, const std::string& one, const std::string& many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A format's name after "a" or "an" as it is spoken: "an MD2", "a Quake MDL".
inline std::string WithArticle(const std::string& name)
{
    const bool vowelSound = !name.empty() && std::string("AEFHILMNORSXaeiou").find(name[0]) != std::string::npos;
    return (vowelSound ? "an " : "a ") + name;
}
