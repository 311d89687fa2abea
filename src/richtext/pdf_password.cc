// Compiled as C++17 under clang: qpdf's headers do not compile as C++20
// with clang 14 and libstdc++ 12 (a vector of its incomplete JSON class).
#include "richtext/pdf_password.h"

#include <exception>

// qpdf's smart pointers are std::shared_ptr only.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>

namespace qlt {

bool isPasswordProtectedPDFData(std::string_view contents) {
  try {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processMemoryFile("attachment", contents.data(), contents.size(), "");
    return false;
  } catch (const QPDFExc& exception) {
    return exception.getErrorCode() == qpdf_e_password;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace qlt
