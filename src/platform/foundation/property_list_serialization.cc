#include "platform/foundation/property_list_serialization.h"

#include "platform/foundation/binary_property_list.h"
#include "platform/foundation/xml_property_list.h"

namespace qlt {

namespace {

Error readCorruptError(const std::string& problem) {
  std::string description = "The data couldn’t be read because it isn’t in the correct format.";
  Error error(kCocoaErrorDomain, kCocoaPropertyListReadCorruptError, description);
  if (!problem.empty()) error.setUserInfoValue("NSDebugDescription", problem);
  return error;
}

}  // namespace

std::optional<Bytes> serializePropertyList(const PropertyList& value, PropertyListFormat format, Error* error) {
  std::string problem;
  auto bytes = format == PropertyListFormat::Binary ? writeBinaryPropertyList(value, &problem)
                                                    : writeXMLPropertyList(value, &problem);
  if (!bytes) {
    Error failure(kCocoaErrorDomain, kCocoaPropertyListWriteInvalidError, "Property list invalid for format");
    failure.setUserInfoValue("NSDebugDescription", problem);
    setError(error, std::move(failure));
  }
  return bytes;
}

std::optional<PropertyList> parsePropertyList(const uint8_t* bytes, size_t size, Error* error,
                                              PropertyListFormat* formatOut) {
  std::string problem;
  std::optional<PropertyList> value;
  if (!bytes || size == 0) {
    problem = "The data is empty.";
  } else if (looksLikeBinaryPropertyList(bytes, size)) {
    value = readBinaryPropertyList(bytes, size, &problem);
    if (value && formatOut) *formatOut = PropertyListFormat::Binary;
  } else {
    value = readXMLPropertyList(bytes, size, &problem);
    if (value && formatOut) *formatOut = PropertyListFormat::XML;
  }
  if (!value) setError(error, readCorruptError(problem));
  return value;
}

std::optional<PropertyList> parsePropertyList(const Bytes& bytes, Error* error, PropertyListFormat* formatOut) {
  return parsePropertyList(bytes.data(), bytes.size(), error, formatOut);
}

}  // namespace qlt
