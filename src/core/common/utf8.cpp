#include "core/common/utf8.h"

#include <cstdint>

namespace corvalent {

bool isValidUtf8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t smallest = 0;
        std::uint32_t point = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, smallest = 0x80, point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, smallest = 0x800, point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, smallest = 0x10000, point = lead & 0x07;
        } else {
            return false;
        }
        if (size - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            point = (point << 6) | (bytes[i + k] & 0x3F);
        }
        if (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

}  // namespace corvalent
