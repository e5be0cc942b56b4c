#pragma once

#include <string_view>

namespace corvalent {

// The order of names shown to the user: localized, case-insensitive, digits
// compared as numbers ("file2" before "file10"). Ids and paths sort as
// plain strings instead.
bool localizedStandardLess(std::string_view a, std::string_view b);

}  // namespace corvalent
