#include "foundation/colour_contrast.h"

#include <algorithm>
#include <cmath>

namespace {
float linear(float channel) {
    const float c = std::clamp(channel, 0.0f, 1.0f);
    return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

ImVec4 mixColour(const ImVec4& from, const ImVec4& to, float share) {
    return ImVec4(from.x + (to.x - from.x) * share, from.y + (to.y - from.y) * share,
                  from.z + (to.z - from.z) * share, from.w + (to.w - from.w) * share);
}

// The least contrast of `colour` drawn over each background.
float leastContrast(const ImVec4& colour, const std::vector<ImVec4>& backgrounds) {
    float least = 21.0f;
    for (const ImVec4& background : backgrounds)
        least = std::min(least, contrastRatio(colourOver(colour, background), background));
    return least;
}

// `colour` mixed in small steps towards black or white (and opacity) until
// `contrast` of the mix reaches `ratio`; the first step that does wins, the
// best one when none does. A highlight's room is narrow: finer steps.
template <typename Contrast>
ImVec4 adjustedColour(const ImVec4& colour, float ratio, const Contrast& contrast, int steps = 64) {
    if (contrast(colour) >= ratio) return colour;
    const ImVec4 ends[2] = {ImVec4(0, 0, 0, 1), ImVec4(1, 1, 1, 1)};
    ImVec4 best = colour;
    float bestContrast = 0;
    for (int step = 1; step <= steps; ++step) {
        for (const ImVec4& end : ends) {
            const ImVec4 candidate = mixColour(colour, end, static_cast<float>(step) / static_cast<float>(steps));
            const float reached = contrast(candidate);
            if (reached >= ratio) return candidate;
            if (reached > bestContrast) best = candidate, bestContrast = reached;
        }
    }
    return best;
}
}  // namespace

float relativeLuminance(const ImVec4& colour) {
    return 0.2126f * linear(colour.x) + 0.7152f * linear(colour.y) + 0.0722f * linear(colour.z);
}

float contrastRatio(const ImVec4& a, const ImVec4& b) {
    const float la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05f) / (std::min(la, lb) + 0.05f);
}

ImVec4 colourOver(const ImVec4& top, const ImVec4& below) {
    const float a = std::clamp(top.w, 0.0f, 1.0f);
    return ImVec4(top.x * a + below.x * (1 - a), top.y * a + below.y * (1 - a), top.z * a + below.z * (1 - a),
                  a + below.w * (1 - a));
}

ImVec4 readableColour(const ImVec4& colour, const std::vector<ImVec4>& backgrounds, float ratio) {
    return adjustedColour(colour, ratio, [&](const ImVec4& c) { return leastContrast(c, backgrounds); });
}

ImVec4 readableBehind(const ImVec4& background, const std::vector<ImVec4>& bases, const ImVec4& text, float ratio) {
    return adjustedColour(background, ratio, [&](const ImVec4& c) {
        std::vector<ImVec4> grounds;
        for (const ImVec4& base : bases) grounds.push_back(colourOver(c, base));
        return leastContrast(text, grounds);
    });
}

ImVec4 readableHighlight(const ImVec4& colour, const std::vector<ImVec4>& backgrounds, const ImVec4& text) {
    // 1 once both ratios are met over every background, with a little to
    // spare for the rounding of colours to 8 bits.
    const auto reached = [&](const ImVec4& c) {
        float least = 21.0f;
        for (const ImVec4& background : backgrounds) {
            const ImVec4 drawn = colourOver(c, background);
            least = std::min({least, contrastRatio(drawn, background) / kControlContrast,
                              contrastRatio(colourOver(text, drawn), drawn) / kTextContrast});
        }
        return least;
    };
    return adjustedColour(colour, 1.02f, reached, 256);
}
