#include "platform/foundation/binary_property_list.h"

#include <bit>
#include <cstring>
#include <string>
#include <unordered_map>

#include "platform/foundation/property_list_unicode.h"

namespace qlt {

namespace {

constexpr char kMagic[] = "bplist00";
constexpr size_t kHeaderSize = 8;
constexpr size_t kTrailerSize = 32;
constexpr int kMaximumDepth = 512;

enum Marker : uint8_t {
  kFalse = 0x08,
  kTrue = 0x09,
  kInteger = 0x10,
  kReal = 0x20,
  kDate = 0x33,
  kData = 0x40,
  kASCIIString = 0x50,
  kUTF16String = 0x60,
  kUID = 0x80,
  kArray = 0xA0,
  kDictionary = 0xD0,
};

void appendBigEndian(Bytes& out, uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

int widthFor(uint64_t value) {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFF) return 4;
  return 8;
}

void appendInteger(Bytes& out, int64_t value) {
  // Negative values always take the 8-byte form; the shorter forms are unsigned.
  int width = value < 0 ? 8 : widthFor(static_cast<uint64_t>(value));
  out.push_back(static_cast<uint8_t>(kInteger | std::countr_zero(static_cast<unsigned>(width))));
  appendBigEndian(out, static_cast<uint64_t>(value), width);
}

void appendMarkerAndCount(Bytes& out, uint8_t marker, uint64_t count) {
  if (count < 15) {
    out.push_back(static_cast<uint8_t>(marker | count));
  } else {
    out.push_back(static_cast<uint8_t>(marker | 0x0F));
    appendInteger(out, static_cast<int64_t>(count));
  }
}

void appendDouble(Bytes& out, uint8_t marker, double value) {
  out.push_back(marker);
  appendBigEndian(out, std::bit_cast<uint64_t>(value), 8);
}

class Writer {
 public:
  explicit Writer(std::string* problem) : problem_(problem) {}

  std::optional<Bytes> write(const PropertyList& root) {
    if (!flatten(root, 0)) return std::nullopt;
    uint64_t count = objects_.size();
    int refWidth = widthFor(count);
    Bytes out(kMagic, kMagic + kHeaderSize);
    std::vector<uint64_t> offsets;
    offsets.reserve(count);
    for (const Object& object : objects_) {
      offsets.push_back(out.size());
      out.insert(out.end(), object.header.begin(), object.header.end());
      for (size_t child : object.children) appendBigEndian(out, child, refWidth);
    }
    uint64_t tableOffset = out.size();
    int offsetWidth = widthFor(tableOffset);
    for (uint64_t offset : offsets) appendBigEndian(out, offset, offsetWidth);
    out.insert(out.end(), 6, 0);
    out.push_back(static_cast<uint8_t>(offsetWidth));
    out.push_back(static_cast<uint8_t>(refWidth));
    appendBigEndian(out, count, 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, tableOffset, 8);
    return out;
  }

 private:
  struct Object {
    Bytes header;  // the whole object for scalars; marker and count for containers
    std::vector<size_t> children;
  };

  bool fail(std::string reason) {
    if (problem_) *problem_ = std::move(reason);
    return false;
  }

  // Scalars that encode alike share one object; containers never do.
  std::optional<size_t> addScalar(Bytes encoded) {
    std::string key(encoded.begin(), encoded.end());
    auto [found, inserted] = scalarIndex_.try_emplace(std::move(key), objects_.size());
    if (inserted) objects_.push_back(Object{std::move(encoded), {}});
    return found->second;
  }

  std::optional<size_t> addString(const std::string& text) {
    Bytes encoded;
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<uint8_t>(c) < 0x80;
    if (ascii) {
      appendMarkerAndCount(encoded, kASCIIString, text.size());
      encoded.insert(encoded.end(), text.begin(), text.end());
    } else {
      auto utf16 = utf16FromUTF8(text);
      if (!utf16) {
        fail("A string is not valid UTF-8.");
        return std::nullopt;
      }
      appendMarkerAndCount(encoded, kUTF16String, utf16->size());
      for (char16_t unit : *utf16) appendBigEndian(encoded, unit, 2);
    }
    return addScalar(std::move(encoded));
  }

  std::optional<size_t> flatten(const PropertyList& value, int depth) {
    if (depth > kMaximumDepth) {
      fail("The property list is nested too deeply.");
      return std::nullopt;
    }
    Bytes encoded;
    switch (value.type()) {
      case PropertyList::Type::String:
        return addString(*value.string());
      case PropertyList::Type::Integer:
        appendInteger(encoded, *value.integer());
        return addScalar(std::move(encoded));
      case PropertyList::Type::Real:
        appendDouble(encoded, kReal | 3, *value.real());
        return addScalar(std::move(encoded));
      case PropertyList::Type::Boolean:
        encoded.push_back(*value.boolean() ? kTrue : kFalse);
        return addScalar(std::move(encoded));
      case PropertyList::Type::Date:
        appendDouble(encoded, kDate, value.date()->timeIntervalSinceReferenceDate());
        return addScalar(std::move(encoded));
      case PropertyList::Type::Data:
        appendMarkerAndCount(encoded, kData, value.data()->size());
        encoded.insert(encoded.end(), value.data()->begin(), value.data()->end());
        return addScalar(std::move(encoded));
      case PropertyList::Type::UID: {
        uint64_t uid = value.uid()->value;
        int width = widthFor(uid);
        encoded.push_back(static_cast<uint8_t>(kUID | (width - 1)));
        appendBigEndian(encoded, uid, width);
        return addScalar(std::move(encoded));
      }
      case PropertyList::Type::Array: {
        size_t index = objects_.size();
        objects_.emplace_back();
        appendMarkerAndCount(objects_[index].header, kArray, value.array()->size());
        std::vector<size_t> children;
        children.reserve(value.array()->size());
        for (const PropertyList& element : *value.array()) {
          auto child = flatten(element, depth + 1);
          if (!child) return std::nullopt;
          children.push_back(*child);
        }
        objects_[index].children = std::move(children);
        return index;
      }
      case PropertyList::Type::Dictionary: {
        size_t index = objects_.size();
        objects_.emplace_back();
        const PropertyListDictionary& dictionary = *value.dictionary();
        appendMarkerAndCount(objects_[index].header, kDictionary, dictionary.size());
        std::vector<size_t> keys, values;
        keys.reserve(dictionary.size());
        values.reserve(dictionary.size());
        for (const auto& [key, element] : dictionary) {
          auto keyIndex = addString(key);
          if (!keyIndex) return std::nullopt;
          keys.push_back(*keyIndex);
        }
        for (const auto& entry : dictionary) {
          auto child = flatten(entry.second, depth + 1);
          if (!child) return std::nullopt;
          values.push_back(*child);
        }
        keys.insert(keys.end(), values.begin(), values.end());
        objects_[index].children = std::move(keys);
        return index;
      }
    }
    return std::nullopt;
  }

  std::string* problem_;
  std::vector<Object> objects_;
  std::unordered_map<std::string, size_t> scalarIndex_;
};

class Reader {
 public:
  Reader(const uint8_t* bytes, size_t size, std::string* problem) : bytes_(bytes), size_(size), problem_(problem) {}

  std::optional<PropertyList> read() {
    if (!looksLikeBinaryPropertyList(bytes_, size_)) return fail("The data does not start with bplist00.");
    if (size_ < kHeaderSize + kTrailerSize + 1) return fail("The data is too short for a binary property list.");
    const uint8_t* trailer = bytes_ + size_ - kTrailerSize;
    offsetWidth_ = trailer[6];
    refWidth_ = trailer[7];
    count_ = bigEndian(trailer + 8, 8);
    uint64_t top = bigEndian(trailer + 16, 8);
    tableOffset_ = bigEndian(trailer + 24, 8);
    uint64_t objectsEnd = size_ - kTrailerSize;
    if (offsetWidth_ < 1 || offsetWidth_ > 8 || refWidth_ < 1 || refWidth_ > 8)
      return fail("The trailer gives an invalid integer size.");
    if (count_ == 0 || top >= count_) return fail("The trailer gives an invalid object count or top object.");
    if (tableOffset_ < kHeaderSize + 1 || tableOffset_ > objectsEnd ||
        count_ > (objectsEnd - tableOffset_) / offsetWidth_)
      return fail("The offset table lies outside the data.");
    // Any object can be referenced more than once. Writers share strings and
    // numbers, so a reference costs a value and maybe a long string; shared
    // containers, which would multiply, stay within small budgets.
    valueBudget_ = size_ * 4 + 1024;
    byteBudget_ = size_ * 64 + (1u << 20);
    visiting_.assign(count_, false);
    return readObject(top, 0);
  }

 private:
  std::nullopt_t fail(std::string reason) {
    if (problem_ && problem_->empty()) *problem_ = std::move(reason);
    return std::nullopt;
  }

  static uint64_t bigEndian(const uint8_t* at, int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) value = (value << 8) | at[i];
    return value;
  }

  static bool charge(uint64_t& budget, uint64_t cost) {
    if (cost > budget) return false;
    budget -= cost;
    return true;
  }

  // Reads the length that follows a marker whose low nibble is 0xF.
  std::optional<uint64_t> readCount(uint8_t marker, uint64_t& at) {
    uint64_t count = marker & 0x0F;
    if (count != 0x0F) return count;
    if (at >= tableOffset_) return std::nullopt;
    uint8_t intMarker = bytes_[at++];
    if ((intMarker & 0xF0) != kInteger || (intMarker & 0x0F) > 3) return std::nullopt;
    int width = 1 << (intMarker & 0x0F);
    if (tableOffset_ - at < static_cast<uint64_t>(width)) return std::nullopt;
    count = bigEndian(bytes_ + at, width);
    at += width;
    if (width == 8 && count > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return count;
  }

  std::optional<PropertyList> readObject(uint64_t index, int depth) {
    if (index >= count_) return fail("An object reference is out of range.");
    if (depth > kMaximumDepth) return fail("The property list is nested too deeply.");
    if (visiting_[index]) return fail("The property list contains a reference cycle.");
    uint64_t at = bigEndian(bytes_ + tableOffset_ + index * offsetWidth_, offsetWidth_);
    if (at < kHeaderSize || at >= tableOffset_) return fail("An object offset is out of range.");
    if (!charge(valueBudget_, 1)) return fail("The property list expands beyond a reasonable size.");
    uint8_t marker = bytes_[at++];
    uint64_t available = tableOffset_ - at;
    switch (marker & 0xF0) {
      case 0x00:
        if (marker == kFalse || marker == kTrue) return PropertyList(marker == kTrue);
        return fail("The property list contains null or an unknown marker.");
      case kInteger:
        return readInteger(marker, at, available);
      case kReal: {
        int width = 1 << (marker & 0x0F);
        if ((width != 4 && width != 8) || available < static_cast<uint64_t>(width))
          return fail("A real has an invalid size.");
        uint64_t raw = bigEndian(bytes_ + at, width);
        if (width == 4) return PropertyList(static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(raw))));
        return PropertyList(std::bit_cast<double>(raw));
      }
      case 0x30:
        if (marker != kDate || available < 8) return fail("A date has an invalid size.");
        return PropertyList(Date(std::bit_cast<double>(bigEndian(bytes_ + at, 8))));
      case kData:
      case kASCIIString:
      case kUTF16String:
        return readBytesObject(marker, at);
      case kUID: {
        int width = (marker & 0x0F) + 1;
        if (width > 8 || available < static_cast<uint64_t>(width)) return fail("A UID has an invalid size.");
        return PropertyList(PropertyListUID{bigEndian(bytes_ + at, width)});
      }
      case kArray:
      case kDictionary:
        return readContainer(index, marker, at, depth);
      default:
        return fail("The property list contains an unsupported object type.");
    }
  }

  std::optional<PropertyList> readInteger(uint8_t marker, uint64_t at, uint64_t available) {
    int exponent = marker & 0x0F;
    if (exponent > 4) return fail("An integer has an invalid size.");
    int width = 1 << exponent;
    if (available < static_cast<uint64_t>(width)) return fail("An integer runs past the object area.");
    if (width == 16) {
      // Values past the signed 64-bit range arrive as 128-bit integers; keep
      // those that still fit.
      uint64_t high = bigEndian(bytes_ + at, 8);
      uint64_t low = bigEndian(bytes_ + at + 8, 8);
      bool fits = (high == 0 && low <= static_cast<uint64_t>(INT64_MAX)) ||
                  (high == UINT64_MAX && low > static_cast<uint64_t>(INT64_MAX));
      if (!fits) return fail("An integer does not fit 64 bits.");
      return PropertyList(static_cast<long long>(low));
    }
    uint64_t raw = bigEndian(bytes_ + at, width);
    return PropertyList(static_cast<long long>(raw));
  }

  std::optional<PropertyList> readBytesObject(uint8_t marker, uint64_t at) {
    auto count = readCount(marker, at);
    if (!count) return fail("An object has an invalid length.");
    uint64_t available = tableOffset_ - at;
    uint8_t kind = marker & 0xF0;
    if (kind == kUTF16String ? *count > available / 2 : *count > available)
      return fail("An object runs past the object area.");
    uint64_t length = kind == kUTF16String ? *count * 2 : *count;
    if (!charge(byteBudget_, length)) return fail("The property list expands beyond a reasonable size.");
    const uint8_t* start = bytes_ + at;
    if (kind == kData) return PropertyList(Bytes(start, start + length));
    if (kind == kASCIIString) {
      for (uint64_t i = 0; i < length; ++i)
        if (start[i] >= 0x80) return fail("An ASCII string contains a non-ASCII byte.");
      return PropertyList(std::string(reinterpret_cast<const char*>(start), length));
    }
    std::u16string utf16(*count, u'\0');
    for (uint64_t i = 0; i < *count; ++i) utf16[i] = static_cast<char16_t>(bigEndian(start + 2 * i, 2));
    return PropertyList(utf8FromUTF16(utf16));
  }

  std::optional<PropertyList> readContainer(uint64_t index, uint8_t marker, uint64_t at, int depth) {
    auto count = readCount(marker, at);
    bool dictionary = (marker & 0xF0) == kDictionary;
    uint64_t available = (tableOffset_ - at) / refWidth_;
    if (!count || *count > (dictionary ? available / 2 : available))
      return fail("A container holds more references than the data has room for.");
    auto ref = [&](uint64_t i) { return bigEndian(bytes_ + at + i * refWidth_, refWidth_); };
    visiting_[index] = true;
    std::optional<PropertyList> result;
    if (dictionary) {
      PropertyListDictionary entries;
      bool ok = true;
      for (uint64_t i = 0; i < *count && ok; ++i) {
        auto key = readObject(ref(i), depth + 1);
        if (key && !key->isString()) fail("A dictionary key is not a string.");
        auto value = key && key->isString() ? readObject(ref(*count + i), depth + 1) : std::nullopt;
        if (value)
          entries.insert_or_assign(*key->string(), std::move(*value));
        else
          ok = false;
      }
      if (ok) result = PropertyList(std::move(entries));
    } else {
      PropertyListArray elements;
      elements.reserve(*count);
      bool ok = true;
      for (uint64_t i = 0; i < *count && ok; ++i) {
        auto element = readObject(ref(i), depth + 1);
        if (element)
          elements.push_back(std::move(*element));
        else
          ok = false;
      }
      if (ok) result = PropertyList(std::move(elements));
    }
    visiting_[index] = false;
    return result;
  }

  const uint8_t* bytes_;
  size_t size_;
  std::string* problem_;
  int offsetWidth_ = 0;
  int refWidth_ = 0;
  uint64_t count_ = 0;
  uint64_t tableOffset_ = 0;
  uint64_t valueBudget_ = 0;
  uint64_t byteBudget_ = 0;
  std::vector<bool> visiting_;
};

}  // namespace

bool looksLikeBinaryPropertyList(const uint8_t* bytes, size_t size) {
  return size >= kHeaderSize && std::memcmp(bytes, kMagic, kHeaderSize) == 0;
}

std::optional<Bytes> writeBinaryPropertyList(const PropertyList& value, std::string* problem) {
  return Writer(problem).write(value);
}

std::optional<PropertyList> readBinaryPropertyList(const uint8_t* bytes, size_t size, std::string* problem) {
  return Reader(bytes, size, problem).read();
}

}  // namespace qlt
