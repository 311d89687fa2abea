#include "platform/files/property_list_file.h"
#include "platform/foundation/property_list_serialization.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>

namespace qlt {
namespace {

PropertyList sampleValue(Date date) {
  return PropertyListDictionary{
      {"string", "plain"},
      {"unicode \u00e9\u4e2d", "caf\u00e9 \U0001F600 \u4e2d\u6587"},
      {"", std::string("nul\0inside <&>", 14)},
      {"integers", PropertyListArray{0, 255, 256, 65536, -1, std::numeric_limits<int64_t>::min(),
                                     std::numeric_limits<int64_t>::max()}},
      {"reals", PropertyListArray{0.5, -1e300, 3.0, std::numeric_limits<double>::infinity()}},
      {"flags", PropertyListArray{true, false}},
      {"date", date},
      {"data", Bytes{0, 1, 2, 0, 255}},
      {"empty", PropertyListArray{PropertyListArray{}, PropertyListDictionary{}, "", Bytes{}}},
      {"nested", PropertyListDictionary{{"uid", PropertyListUID{70000}}, {"same", "plain"}}},
  };
}

TEST(PropertyListSerializationTest, RoundTripsEveryTypeInBothFormats) {
  PropertyList value = sampleValue(Date(123456.25));
  for (auto format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
    auto bytes = serializePropertyList(value, format);
    ASSERT_TRUE(bytes);
    PropertyListFormat detected{};
    Error error;
    auto parsed = parsePropertyList(*bytes, &error, &detected);
    ASSERT_TRUE(parsed) << error.description();
    EXPECT_EQ(detected, format);
    PropertyList expected = value;
    // XML keeps whole seconds only.
    if (format == PropertyListFormat::XML) (*expected.dictionary())["date"] = Date(123456);
    EXPECT_EQ(*parsed, expected);
    EXPECT_EQ(serializePropertyList(value, format), bytes) << "output must be deterministic";
  }
  for (Date date : {Date::distantPast(), Date::distantFuture(), Date(-0.75)}) {
    auto xml = parsePropertyList(*serializePropertyList(date, PropertyListFormat::XML));
    ASSERT_TRUE(xml);
    EXPECT_EQ(*xml, Date(std::floor(date.timeIntervalSinceReferenceDate())));
    EXPECT_EQ(parsePropertyList(*serializePropertyList(date, PropertyListFormat::Binary)), PropertyList(date));
  }
  auto nan = parsePropertyList(*serializePropertyList(std::nan(""), PropertyListFormat::XML));
  ASSERT_TRUE(nan && nan->real());
  EXPECT_TRUE(std::isnan(*nan->real()));
}

TEST(PropertyListSerializationTest, BinaryLayoutMatchesTheKnownFormat) {
  // {"a": date 1.5 s after 2001-01-01}
  const Bytes known = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD1, 0x01, 0x02, 0x51, 'a', 0x33, 0x3F, 0xF8,
                       0,   0,   0,   0,   0,   0,   0x08, 0x0B, 0x0D, 0,   0,   0,   0,   0,   0,   1,
                       1,   0,   0,   0,   0,   0,   0,   0,    3,    0,    0,    0,    0,    0,   0,   0,
                       0,   0,   0,   0,   0,   0,   0,   0,    0x16};
  PropertyList value = PropertyListDictionary{{"a", Date(1.5)}};
  EXPECT_EQ(serializePropertyList(value, PropertyListFormat::Binary), known);
  EXPECT_EQ(parsePropertyList(known), value);

  plist_t other = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(known.data()), known.size(), &other);
  ASSERT_NE(other, nullptr);
  int32_t seconds = 0, microseconds = 0;
  plist_get_date_val(plist_dict_get_item(other, "a"), &seconds, &microseconds);
  EXPECT_EQ(seconds, 1);
  EXPECT_EQ(microseconds, 500000);
  plist_free(other);
}

plist_t toLibplist(const PropertyList& value) {
  switch (value.type()) {
    case PropertyList::Type::String: return plist_new_string(value.string()->c_str());
    case PropertyList::Type::Integer: return plist_new_uint(static_cast<uint64_t>(*value.integer()));
    case PropertyList::Type::Real: return plist_new_real(*value.real());
    case PropertyList::Type::Boolean: return plist_new_bool(*value.boolean());
    case PropertyList::Type::Date: {
      double seconds = value.date()->timeIntervalSinceReferenceDate();
      return plist_new_date(static_cast<int32_t>(seconds), static_cast<int32_t>(std::fmod(seconds, 1) * 1e6));
    }
    case PropertyList::Type::Data:
      return plist_new_data(reinterpret_cast<const char*>(value.data()->data()), value.data()->size());
    case PropertyList::Type::UID: return plist_new_uid(value.uid()->value);
    case PropertyList::Type::Array: {
      plist_t array = plist_new_array();
      for (const auto& element : *value.array()) plist_array_append_item(array, toLibplist(element));
      return array;
    }
    case PropertyList::Type::Dictionary: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, element] : *value.dictionary()) plist_dict_set_item(dict, key.c_str(), toLibplist(element));
      return dict;
    }
  }
  return nullptr;
}

TEST(PropertyListSerializationTest, InteroperatesWithAnIndependentImplementation) {
  // Within what the other library represents: non-negative integers, no NUL
  // in strings, no UIDs in XML.
  PropertyList value = PropertyListDictionary{
      {"text", "caf\u00e9 \U0001F600"}, {"ascii", "x"}, {"numbers", PropertyListArray{0, 300, 70000, 1LL << 40, 2.5}},
      {"date", Date(86400)},            {"flags", true}, {"data", Bytes{0, 9, 0}}, {"empty", PropertyListArray{}}};
  plist_t theirs = toLibplist(value);
  char* buffer = nullptr;
  uint32_t length = 0;
  plist_to_bin(theirs, &buffer, &length);
  EXPECT_EQ(parsePropertyList(reinterpret_cast<const uint8_t*>(buffer), length), value);
  plist_to_bin_free(buffer);
  buffer = nullptr;
  plist_to_xml(theirs, &buffer, &length);
  Error error;
  EXPECT_EQ(parsePropertyList(reinterpret_cast<const uint8_t*>(buffer), length, &error), value) << error.description();
  plist_to_xml_free(buffer);
  plist_free(theirs);

  for (auto format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
    Bytes ours = *serializePropertyList(value, format);
    plist_t parsed = nullptr;
    if (format == PropertyListFormat::Binary)
      plist_from_bin(reinterpret_cast<const char*>(ours.data()), ours.size(), &parsed);
    else
      plist_from_xml(reinterpret_cast<const char*>(ours.data()), ours.size(), &parsed);
    ASSERT_NE(parsed, nullptr);
    buffer = nullptr;
    plist_to_bin(parsed, &buffer, &length);
    EXPECT_EQ(parsePropertyList(reinterpret_cast<const uint8_t*>(buffer), length), value);
    plist_to_bin_free(buffer);
    plist_free(parsed);
  }
}

// A binary property list made of `objects` (already encoded, references one
// byte wide) with object 0 on top.
Bytes handMade(const std::vector<Bytes>& objects, uint64_t count = 0, uint8_t refWidth = 1) {
  Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<uint64_t> offsets;
  for (const Bytes& object : objects) {
    offsets.push_back(out.size());
    out.insert(out.end(), object.begin(), object.end());
  }
  uint64_t table = out.size();
  for (uint64_t offset : offsets) {
    out.push_back(static_cast<uint8_t>(offset >> 8));
    out.push_back(static_cast<uint8_t>(offset));
  }
  out.insert(out.end(), {0, 0, 0, 0, 0, 0, 2, refWidth});
  if (!count) count = objects.size();
  for (uint64_t value : {count, uint64_t{0}, table})
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
  return out;
}

void expectCorrupt(const Bytes& bytes, const std::string& what) {
  Error error;
  EXPECT_FALSE(parsePropertyList(bytes, &error)) << what;
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaPropertyListReadCorruptError)) << what << ": " << error.description();
  EXPECT_FALSE(parsePropertyList(bytes)) << what;
}

TEST(PropertyListSerializationTest, RejectsHostileBinaryInput) {
  expectCorrupt(handMade({{0xA1, 0x00}}), "array containing itself");
  expectCorrupt(handMade({{0xA1, 0x01}, {0xD1, 0x02, 0x00}, {0x51, 'k'}}), "cycle through a dictionary");
  expectCorrupt(handMade({{0xA1, 0x05}}), "reference out of range");
  expectCorrupt(handMade({{0xAF, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}), "huge count");
  expectCorrupt(handMade({{0x5F, 0x12, 0xFF, 0xFF, 0xFF, 0xFF}}), "string longer than the data");
  expectCorrupt(handMade({{0x10, 1}}, 1ULL << 62), "huge object count");
  expectCorrupt(handMade({{0xD1, 0x01, 0x01}, {0x10, 1}}), "non-string key");
  expectCorrupt(handMade({{0x00}}), "null");
  expectCorrupt(handMade({{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}}), "128-bit integer too large");
  expectCorrupt(handMade({{0x52, 0xC3, 0xA9}}), "non-ASCII byte in an ASCII string");
  expectCorrupt(handMade({{0x10, 1}}, 0, 9), "reference width 9");
  expectCorrupt(Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x10, 1}, "truncated trailer");
  Bytes badOffset = handMade({{0x10, 1}});
  badOffset[badOffset.size() - 33] = 0xF0;
  expectCorrupt(badOffset, "object offset past the table");

  EXPECT_EQ(parsePropertyList(handMade({{0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFE}})),
            PropertyList(-2))
      << "128-bit integers that fit are accepted";

  // Nesting deeper than 512, and a chain of arrays that each refer twice to
  // the next, which would expand to 2^200 values.
  std::vector<Bytes> doubling;
  for (int i = 0; i < 200; ++i) doubling.push_back({0xA2, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 1)});
  doubling.push_back({0x10, 1});
  expectCorrupt(handMade(doubling), "exponential sharing");
  std::vector<Bytes> deep;
  for (int i = 0; i < 600; ++i) deep.push_back({0xA1, static_cast<uint8_t>((i + 1) >> 8), static_cast<uint8_t>(i + 1)});
  deep.push_back({0x10, 1});
  expectCorrupt(handMade(deep, 0, 2), "nesting deeper than 512");
}

TEST(PropertyListSerializationTest, RejectsMalformedXML) {
  const char* cases[] = {
      "",
      "<plist version=\"1.0\"><dict><key>a</key></dict></plist>",
      "<plist><array><string>x</array></plist>",
      "<plist><integer>9223372036854775808</integer></plist>",
      "<plist><integer>12abc</integer></plist>",
      "<plist><real>one</real></plist>",
      "<plist><date>yesterday</date></plist>",
      "<plist><data>!!!!</data></plist>",
      "<plist><string>&bogus;</string></plist>",
      "<plist><string>&#xD800;</string></plist>",
      "<plist><string>\xC3</string></plist>",
      "<plist><string>x</string></plist><extra/>",
      "<plist><unknown/></plist>",
      "<plist><dict><string>not a key</string></dict></plist>",
      "<plist><!-- unterminated",
      "<plist><string>x",
  };
  for (const char* text : cases) expectCorrupt(Bytes(text, text + std::strlen(text)), text);
  std::string deep = "<plist>";
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  expectCorrupt(Bytes(deep.begin(), deep.end()), "nesting 100000 deep");

  const std::string lenient =
      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!DOCTYPE plist [ <!ENTITY x \"y\"> ]>\n<!-- note -->"
      "<plist version=\"1.0\"><dict><key>a&amp;b</key><string><![CDATA[<raw>]]>&#233;&#x4E2D;</string>"
      "<key>n</key><integer> -0x10 </integer><key>t</key><true></true><key>s</key><string/></dict></plist>\n";
  EXPECT_EQ(parsePropertyList(Bytes(lenient.begin(), lenient.end())),
            PropertyList(PropertyListDictionary{{"a&b", "<raw>\u00e9\u4e2d"}, {"n", -16}, {"t", true}, {"s", ""}}));
}

TEST(PropertyListSerializationTest, RefusesValuesTheFormatsCannotHold) {
  PropertyList deep = PropertyListArray{};
  for (int i = 0; i < 600; ++i) {
    PropertyListArray outer;
    outer.push_back(std::move(deep));
    deep = std::move(outer);
  }
  for (const auto& [value, format] : std::vector<std::pair<PropertyList, PropertyListFormat>>{
           {std::string("\xFF"), PropertyListFormat::Binary},
           {PropertyListDictionary{{"\xC3\x28", 1}}, PropertyListFormat::XML},
           {Date(1e15), PropertyListFormat::XML},
           {Date(std::nan("")), PropertyListFormat::XML},
           {deep, PropertyListFormat::Binary},
       }) {
    Error error;
    EXPECT_FALSE(serializePropertyList(value, format, &error));
    EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaPropertyListWriteInvalidError)) << error.description();
  }
}

TEST(PropertyListSerializationTest, SurvivesRandomMutations) {
  std::mt19937 random(20240611);
  for (auto format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
    const Bytes valid = *serializePropertyList(sampleValue(Date(5.5)), format);
    for (int iteration = 0; iteration < 3000; ++iteration) {
      Bytes bytes = valid;
      int edits = 1 + random() % 4;
      for (int e = 0; e < edits; ++e) {
        size_t at = random() % bytes.size();
        switch (random() % 4) {
          case 0: bytes[at] ^= static_cast<uint8_t>(1 + random() % 255); break;
          case 1: bytes[at] = static_cast<uint8_t>(random()); break;
          case 2: bytes.resize(std::max<size_t>(at, 1)); break;
          case 3: bytes.insert(bytes.begin() + at, static_cast<uint8_t>(random())); break;
        }
      }
      if (auto parsed = parsePropertyList(bytes)) (void)serializePropertyList(*parsed, format);  // must not crash
    }
  }
}

TEST(PropertyListSerializationTest, WritesFilesAtomically) {
  auto directory = std::filesystem::temp_directory_path() / ("plist-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  std::string path = (directory / "values.plist").string();

  PropertyList first = PropertyListDictionary{{"version", 1}};
  PropertyList second = PropertyListDictionary{{"version", 2}};
  ASSERT_TRUE(writePropertyListToFile(first, path, PropertyListFormat::XML));
  ASSERT_TRUE(writePropertyListToFile(second, path, PropertyListFormat::Binary));
  Error error;
  EXPECT_EQ(readPropertyListFromFile(path, &error), second) << error.description();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory), {}), 1) << "no temporary file remains";

  EXPECT_FALSE(readPropertyListFromFile((directory / "missing.plist").string(), &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaFileNoSuchFileError)) << error.description();
  EXPECT_FALSE(writePropertyListToFile(first, (directory / "no" / "such.plist").string(), PropertyListFormat::XML,
                                       &error));
  EXPECT_EQ(error.domain(), kCocoaErrorDomain);
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace qlt
