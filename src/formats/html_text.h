#pragma once

#include <string>
#include <string_view>

namespace qlt {

// The text a reader sees in an HTML document: tags dropped (with scripts,
// styles and the head), block elements and <br> as line breaks, runs of
// white space as one space, and character references decoded.
std::string plainTextFromHTML(std::string_view html);

}  // namespace qlt
