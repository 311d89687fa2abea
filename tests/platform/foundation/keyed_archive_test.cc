#include <gtest/gtest.h>

#include <bit>
#include <limits>

#include <mutex>
#include <random>

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/property_list_serialization.h"

namespace qlt {
namespace {

const ClassNameSet kBuiltIns = {"NSString", "NSNumber", "NSData", "NSDate", "NSArray",
                                "NSDictionary", "NSSet", "NSNull"};

class Author : public Codable {
 public:
  std::string name;
  std::shared_ptr<Author> mentor;  // may point back into a cycle in the hostile cases
  std::string className() const override { return "QLTAuthor"; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString("name", name);
    if (mentor) archiver.encodeObject("mentor", ArchiveObject(mentor));
  }
};

class Book : public Codable {
 public:
  std::string title;
  int64_t pages = 0;
  double rating = 0;
  bool read = false;
  Date added;
  Bytes cover;
  ArchiveObject tags;
  std::shared_ptr<Author> author, editor;
  std::string className() const override { return "QLTBook"; }
  std::vector<std::string> classHierarchy() const override { return {"QLTBook", "QLTItem"}; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString("title", title);
    archiver.encodeInt64("pages", pages);
    archiver.encodeDouble("rating", rating);
    archiver.encodeBool("$read", read);
    archiver.encodeDate("added", added);
    archiver.encodeData("cover", cover);
    archiver.encodeObject("tags", tags);
    archiver.encodeObject("author", ArchiveObject(author));
    archiver.encodeObject("editor", ArchiveObject(editor));
  }
};

void registerClasses(CodableRegistry& r) {
    r.registerClass("QLTAuthor", [](KeyedUnarchiver& coder, Error* error) -> std::shared_ptr<Codable> {
      auto author = std::make_shared<Author>();
      auto name = coder.decodeString("name", error);
      if (!name) return nullptr;
      author->name = *name;
      if (coder.containsValue("mentor")) {
        auto mentor = coder.decodeObjectOfClass<Author>("mentor", "QLTAuthor", error);
        if (!mentor) return nullptr;
        author->mentor = *mentor;
      }
      return author;
    });
    r.registerClass("QLTBook", [](KeyedUnarchiver& coder, Error* error) -> std::shared_ptr<Codable> {
      auto book = std::make_shared<Book>();
      auto title = coder.decodeString("title", error);
      auto pages = coder.decodeInt64("pages", error);
      auto rating = coder.decodeDouble("rating", error);
      auto read = coder.decodeBool("$read", error);
      auto added = coder.decodeDate("added", error);
      auto cover = coder.decodeData("cover", error);
      auto tags = coder.decodeObjectOfClasses("tags", {"NSSet", "NSString"}, error);
      auto author = coder.decodeObjectOfClass<Author>("author", "QLTAuthor", error);
      auto editor = coder.decodeObjectOfClass<Author>("editor", "QLTAuthor", error);
      if (!title || !pages || !rating || !read || !added || !cover || !tags || !author || !editor) return nullptr;
      book->title = *title, book->pages = *pages, book->rating = *rating, book->read = *read;
      book->added = *added, book->cover = *cover, book->tags = *tags, book->author = *author, book->editor = *editor;
      return book;
    });
}

CodableRegistry& registry() {
  static CodableRegistry classes;
  static std::once_flag once;
  std::call_once(once, [] { registerClasses(classes); });
  return classes;
}

std::shared_ptr<Book> sampleBook() {
  auto author = std::make_shared<Author>();
  author->name = "Ursula K. Le Guin";
  auto book = std::make_shared<Book>();
  book->title = "The Dispossessed — \u00e9";
  book->pages = 387;
  book->rating = 4.5;
  book->read = true;
  book->added = Date(700000000.123456);
  book->cover = Bytes{0, 0xFF, 0};
  book->tags = ArchiveObject::set({"fiction", "utopia"});
  book->author = author;
  book->editor = author;
  return book;
}

PropertyList archiveAsPropertyList(const Bytes& bytes) { return *parsePropertyList(bytes); }

TEST(KeyedArchiveTest, RoundTripsBuiltIns) {
  ArchiveObject value = ArchiveObject::dictionary({
      {"string", "text"},
      {"empty", ""},
      {"unicode \u00fc\u4e2d", "\U0001F600 \u00e9"},
      {"integer", -42},
      {"real", 0.1},
      {"flag", false},
      {"date", Date(123.456789)},
      {"data", Bytes{0, 1, 0, 2}},
      {"nested", ArchiveObject::array({ArchiveObject::array({}), ArchiveObject::dictionary({{1, "one"}}),
                                       ArchiveArray{{"m"}, true}, ArchiveObject::null(), ArchiveObject()})},
      {"set", ArchiveObject::set({"a", 2})},
      {"mutable", ArchiveDictionary{{{"k", "v"}}, true}},
  });
  Error error;
  auto bytes = KeyedArchiver::archivedData(value, true, &error);
  ASSERT_TRUE(bytes) << error.description();
  auto decoded = KeyedUnarchiver::unarchivedObject(*bytes, kBuiltIns, &error);
  ASSERT_TRUE(decoded) << error.description();
  EXPECT_EQ(*decoded, value);
  EXPECT_EQ(KeyedArchiver::archivedData(value), bytes);
}

TEST(KeyedArchiveTest, WritesTheFoundationLayout) {
  Bytes bytes = *KeyedArchiver::archivedData(
      ArchiveArray{{"same", "same", Date(1.5), "$null"}, true});
  PropertyList archive = archiveAsPropertyList(bytes);
  EXPECT_EQ(*archive.find("$archiver"), PropertyList("NSKeyedArchiver"));
  EXPECT_EQ(*archive.find("$version"), PropertyList(100000));
  EXPECT_EQ(*archive.find("$top"), PropertyList(PropertyListDictionary{{"root", PropertyListUID{1}}}));
  const PropertyListArray& objects = *archive.find("$objects")->array();
  EXPECT_EQ(objects[0], PropertyList("$null"));
  const PropertyList& root = objects[1];
  const PropertyListArray& elements = *root.find("NS.objects")->array();
  ASSERT_EQ(elements.size(), 4u);
  EXPECT_EQ(elements[0], elements[1]) << "equal strings share one object";
  EXPECT_EQ(objects[elements[0].uid()->value], PropertyList("same"));
  EXPECT_EQ(objects[elements[3].uid()->value], PropertyList("$null")) << "a string, not nil";
  EXPECT_NE(elements[3].uid()->value, 0u);
  EXPECT_EQ(objects[root.find("$class")->uid()->value],
            PropertyList(PropertyListDictionary{
                {"$classname", "NSMutableArray"},
                {"$classes", PropertyListArray{"NSMutableArray", "NSArray", "NSObject"}}}));
  const PropertyList& date = objects[elements[2].uid()->value];
  EXPECT_EQ(*date.find("NS.time"), PropertyList(1.5));
  EXPECT_EQ(objects[date.find("$class")->uid()->value],
            PropertyList(PropertyListDictionary{{"$classname", "NSDate"},
                                                {"$classes", PropertyListArray{"NSDate", "NSObject"}}}));
}

TEST(KeyedArchiveTest, RoundTripsCodableClassesAndKeepsSharedObjectsShared) {
  Error error;
  auto bytes = KeyedArchiver::archivedData(ArchiveObject(sampleBook()), true, &error);
  ASSERT_TRUE(bytes) << error.description();
  PropertyList archive = archiveAsPropertyList(*bytes);
  const PropertyList& fields = (*archive.find("$objects")->array())[1];
  EXPECT_TRUE(fields.find("$$read")) << "keys starting with $ are escaped";
  EXPECT_EQ(*(*archive.find("$objects")->array())[fields.find("$class")->uid()->value].find("$classes"),
            PropertyList(PropertyListArray{"QLTBook", "QLTItem", "NSObject"}));

  auto decoded = KeyedUnarchiver::unarchivedObject(*bytes, {"QLTBook"}, &error, registry());
  ASSERT_TRUE(decoded) << error.description();
  auto book = decoded->objectAs<Book>();
  ASSERT_TRUE(book);
  auto expected = sampleBook();
  EXPECT_EQ(book->title, expected->title);
  EXPECT_EQ(book->pages, 387);
  EXPECT_EQ(book->rating, 4.5);
  EXPECT_TRUE(book->read);
  EXPECT_EQ(book->added, expected->added);
  EXPECT_EQ(book->cover, expected->cover);
  EXPECT_EQ(book->tags, expected->tags);
  ASSERT_TRUE(book->author);
  EXPECT_EQ(book->author->name, "Ursula K. Le Guin");
  EXPECT_EQ(book->author, book->editor);
}

void expectRefused(const Bytes& bytes, const ClassNameSet& allowed, const std::string& what,
                   long code = kCocoaCoderReadCorruptError) {
  Error error;
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObject(bytes, allowed, &error, registry())) << what;
  EXPECT_TRUE(error.is(kCocoaErrorDomain, code)) << what << ": " << error.description();
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObject(bytes, allowed, nullptr, registry())) << what;
}

TEST(KeyedArchiveTest, AcceptsOnlyAllowedClasses) {
  Error error;
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObject(*KeyedArchiver::archivedData("text"), {"NSNumber"}, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderReadCorruptError));
  EXPECT_EQ(error.userInfoString("NSDebugDescription"),
            "value for key 'root' was of unexpected class 'NSString'. Allowed classes are '{(NSNumber)}'.");

  expectRefused(*KeyedArchiver::archivedData(ArchiveObject::array({"x"})), {"NSArray"}, "unlisted element class");
  expectRefused(*KeyedArchiver::archivedData(ArchiveObject(sampleBook())), {"QLTAuthor"}, "unlisted root class");
  expectRefused(*KeyedArchiver::archivedData(ArchiveObject::array({ArchiveObject(sampleBook())})), {"NSArray"},
                "unlisted class inside a collection");
  class Stranger : public Codable {
    std::string className() const override { return "QLTStranger"; }
    void encode(KeyedArchiver&) const override {}
  };
  expectRefused(*KeyedArchiver::archivedData(ArchiveObject(std::make_shared<Stranger>())), {"QLTStranger"},
                "allowed but unregistered class");
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObject(*KeyedArchiver::archivedData(ArchiveArray{{}, true}), {"NSArray"}))
      << "a mutable variant passes as its immutable class";
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObject(*KeyedArchiver::archivedData(ArchiveObject()), {}))
      << "nil needs no class";

  KeyedArchiver archiver;
  archiver.encodeInt64("count", 3);
  archiver.encodeString("name", "x");
  auto unarchiver = KeyedUnarchiver::forReading(*archiver.finishEncoding());
  ASSERT_TRUE(unarchiver);
  EXPECT_FALSE(unarchiver->decodeInt64("absent", &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderValueNotFoundError));
  EXPECT_EQ(unarchiver->decodeInt64("count"), 3) << "a missing key does not spoil the rest";
  EXPECT_FALSE(unarchiver->decodeDate("name", &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderReadCorruptError));
  EXPECT_FALSE(unarchiver->decodeInt64("count")) << "after a refusal every decode fails";
}

Bytes archiveOf(PropertyListArray objects, PropertyList root = PropertyListUID{1}) {
  PropertyList archive = PropertyListDictionary{{"$archiver", "NSKeyedArchiver"},
                                                {"$version", 100000},
                                                {"$top", PropertyListDictionary{{"root", root}}},
                                                {"$objects", std::move(objects)}};
  return *serializePropertyList(archive, PropertyListFormat::Binary);
}

PropertyList classDescription(const char* name) {
  return PropertyListDictionary{{"$classname", name}, {"$classes", PropertyListArray{name, "NSObject"}}};
}

PropertyList arrayOf(PropertyListArray uids, uint64_t classUID) {
  return PropertyListDictionary{{"NS.objects", std::move(uids)}, {"$class", PropertyListUID{classUID}}};
}

TEST(KeyedArchiveTest, RejectsHostileArchives) {
  const ClassNameSet all = {"NSArray", "NSDictionary", "NSString", "NSNumber", "QLTAuthor", "QLTBook"};
  expectRefused(archiveOf({"$null", "x"}, PropertyListUID{7}), all, "root out of range");
  expectRefused(archiveOf({"$null", arrayOf({PropertyListUID{1}}, 2), classDescription("NSArray")}), all,
                "array containing itself");
  expectRefused(archiveOf({"$null", arrayOf({PropertyListUID{99}}, 2), classDescription("NSArray")}), all,
                "element out of range");
  expectRefused(archiveOf({"$null",
                           PropertyListDictionary{{"name", PropertyListUID{3}}, {"mentor", PropertyListUID{1}},
                                                  {"$class", PropertyListUID{2}}},
                           classDescription("QLTAuthor"), "Ann"}),
                all, "object referring to itself");
  expectRefused(archiveOf({"$null", arrayOf({}, 2), "NSArray"}), all, "$class is a string");
  expectRefused(archiveOf({"$null", PropertyListDictionary{{"NS.objects", PropertyListArray{}}, {"$class", 2}}}),
                all, "$class is not a UID");
  expectRefused(archiveOf({"$null", PropertyListDictionary{{"NS.keys", PropertyListArray{PropertyListUID{3}}},
                                                           {"NS.objects", PropertyListArray{}},
                                                           {"$class", PropertyListUID{2}}},
                           classDescription("NSDictionary"), "k"}),
                all, "keys without values");
  expectRefused(archiveOf({"$null", Date(3)}), all, "a bare date object");
  expectRefused(archiveOf({"$null", "x"}, "not a UID"), all, "root not a reference");
  expectRefused(archiveOf({}), all, "empty object table");
  expectRefused(*serializePropertyList(PropertyListDictionary{{"$archiver", "NSKeyedArchiver"}, {"$version", 1},
                                                              {"$objects", PropertyListArray{"$null"}}},
                                       PropertyListFormat::Binary),
                all, "missing $top");
  Bytes wrongArchiver = *KeyedArchiver::archivedData("x");
  auto tampered = archiveAsPropertyList(wrongArchiver);
  (*tampered.dictionary())["$archiver"] = "NSArchiver";
  expectRefused(*serializePropertyList(tampered, PropertyListFormat::Binary), all, "wrong $archiver");
  expectRefused(Bytes{'b', 'p', 'l', 'i', 's', 't'}, all, "not a property list");

  PropertyListArray deep = {"$null", classDescription("NSArray")};
  for (uint64_t i = 2; i < 1000; ++i) deep.push_back(arrayOf({PropertyListUID{i + 1}}, 1));
  deep.push_back("leaf");
  expectRefused(archiveOf(deep, PropertyListUID{2}), all, "nesting 1000 deep");

  // Each array refers twice to the next: 2^100 elements if expanded.
  PropertyListArray doubling = {"$null", classDescription("NSArray")};
  for (uint64_t i = 2; i < 102; ++i) doubling.push_back(arrayOf({PropertyListUID{i + 1}, PropertyListUID{i + 1}}, 1));
  doubling.push_back("leaf");
  expectRefused(archiveOf(doubling, PropertyListUID{2}), all, "exponential sharing");
}

TEST(KeyedArchiveTest, RefusesToArchiveWhatCannotBeRead) {
  auto looped = std::make_shared<Author>();
  looped->mentor = looped;
  Error error;
  EXPECT_FALSE(KeyedArchiver::archivedData(ArchiveObject(looped), true, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderInvalidValueError)) << error.description();
  looped->mentor.reset();

  class Insecure : public Author {
    bool supportsSecureCoding() const override { return false; }
  };
  EXPECT_FALSE(KeyedArchiver::archivedData(ArchiveObject(std::make_shared<Insecure>()), true, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderInvalidValueError));
  EXPECT_TRUE(KeyedArchiver::archivedData(ArchiveObject(std::make_shared<Insecure>()), false));

  ArchiveObject deep = ArchiveObject::array({});
  for (int i = 0; i < 600; ++i) {
    ArchiveArray outer;
    outer.elements.push_back(std::move(deep));
    deep = std::move(outer);
  }
  EXPECT_FALSE(KeyedArchiver::archivedData(deep, true, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderInvalidValueError));
  EXPECT_FALSE(KeyedArchiver::archivedData(std::string("\xFF"), true, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaCoderInvalidValueError));
}

TEST(KeyedArchiveTest, ArchivedNumbersAreDeterministicAndMatchTheFullArchiver) {
  double seconds = 700000000.25;
  EXPECT_EQ(archivedNumber(seconds), archivedNumber(seconds));
  EXPECT_NE(archivedNumber(seconds), archivedNumber(seconds + 0.001));
  for (double value : {seconds, 0.0, -0.0, 1.0, -1e300, 5e-324, std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(archivedNumber(value), KeyedArchiver::archivedData(ArchiveObject(value), true)) << value;
    auto decoded = KeyedUnarchiver::unarchivedObject(*archivedNumber(value), {"NSNumber"});
    ASSERT_TRUE(decoded && decoded->real());
    EXPECT_EQ(std::bit_cast<uint64_t>(*decoded->real()), std::bit_cast<uint64_t>(value));
  }
}

void collectNodes(PropertyList& node, std::vector<PropertyList*>& nodes) {
  nodes.push_back(&node);
  if (auto array = node.array())
    for (auto& element : *array) collectNodes(element, nodes);
  if (auto dictionary = node.dictionary())
    for (auto& entry : *dictionary) collectNodes(entry.second, nodes);
}

TEST(KeyedArchiveTest, SurvivesRandomMutations) {
  const ClassNameSet all = {"NSArray", "NSDictionary", "NSSet", "NSString", "NSNumber", "NSDate", "NSData",
                            "NSNull", "QLTAuthor", "QLTBook"};
  const Bytes valid = *KeyedArchiver::archivedData(
      ArchiveObject::dictionary({{"book", ArchiveObject(sampleBook())}, {"list", ArchiveObject::array({1, 2.5, "x"})}}));
  std::mt19937 random(4242);
  // Byte-level damage mostly breaks the property list; structural damage
  // reaches the object graph.
  for (int iteration = 0; iteration < 1500; ++iteration) {
    Bytes bytes = valid;
    int edits = 1 + random() % 3;
    for (int e = 0; e < edits; ++e) {
      size_t at = random() % bytes.size();
      if (random() % 8 == 0)
        bytes.resize(std::max<size_t>(at, 1));
      else
        bytes[at] ^= static_cast<uint8_t>(1 + random() % 255);
    }
    (void)KeyedUnarchiver::unarchivedObject(bytes, all, nullptr, registry());  // must not crash
  }
  for (int iteration = 0; iteration < 1000; ++iteration) {
    PropertyList archive = archiveAsPropertyList(valid);
    PropertyList& objects = archive.dictionary()->at("$objects");
    uint64_t count = objects.array()->size();
    for (int e = 1 + random() % 2; e > 0; --e) {
      std::vector<PropertyList*> nodes;
      collectNodes(objects, nodes);
      PropertyList& node = *nodes[1 + random() % (nodes.size() - 1)];
      PropertyListUID uid{random() % (count + 2)};
      switch (random() % 5) {
        case 0: node = uid; break;
        case 1: node = "x"; break;
        case 2: node = 7; break;
        case 3: node = PropertyListArray{uid, uid}; break;
        case 4: node = PropertyListDictionary{{"$class", uid}}; break;
      }
    }
    (void)KeyedUnarchiver::unarchivedObject(*serializePropertyList(archive, PropertyListFormat::Binary), all,
                                            nullptr, registry());  // must not crash
  }
}

}  // namespace
}  // namespace qlt
