#pragma once

#include <string_view>

namespace qlt {

// Whether the PDF document in `contents` opens only with a password. Data
// that is not a PDF, or that qpdf cannot read for another reason, does not.
bool isPasswordProtectedPDFData(std::string_view contents);

}  // namespace qlt
