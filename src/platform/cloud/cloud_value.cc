#include "platform/cloud/cloud_value.h"

#include <sstream>

namespace qlt {

std::string CloudValue::description() const {
  std::ostringstream out;
  switch (type()) {
    case Type::String: out << '"' << *string() << '"'; break;
    case Type::Integer: out << *integer(); break;
    case Type::Double: out << *real(); break;
    case Type::Boolean: out << (*boolean() ? "YES" : "NO"); break;
    case Type::Date: out << date()->description(); break;
    case Type::Data: out << "<" << data()->size() << " bytes>"; break;
    case Type::Reference: out << "<Reference " << reference()->recordID.recordName << ">"; break;
    case Type::Asset: out << "<Asset " << asset()->filePath << ">"; break;
    case Type::List: {
      out << "(";
      bool first = true;
      for (const CloudValue& value : *list()) {
        out << (first ? "" : ", ") << value.description();
        first = false;
      }
      out << ")";
      break;
    }
  }
  return out.str();
}

}  // namespace qlt
