#pragma once

#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/objectstore/predicate.h"
#include "platform/objectstore/predicate_expression.h"
#include "platform/objectstore/value.h"

namespace qlt {

inline const std::vector<std::string> kNames = {"Alpha",  "alpha",      "ALPHA",    "Älpha",    "café",     "cafe",
                                         "CAFÉ",   "cafe\u0301", "file.txt", "File.TXT", "ｆｉｌｅ", "notes",
                                         "résumé", "resume",     "",         "a*b?",     "Ze",       "zèbre"};

// Random predicate formats and arguments over items in folders with tags:
// Item(name, size, rating, isFavorite, dateModified, thumbnail, folder,
// tags), Folder(name, parent, children, items), Tag(name, folder, items).
// Object constants name Folder 0-5, Item 0-11 and Tag 0-4 through `idOf`.
class RandomPredicates {
 public:
  using IDMaker = std::function<ObjectID(const std::string& entity, int64_t key)>;
  RandomPredicates(std::mt19937& random, IDMaker idOf) : random_(random), idOf_(std::move(idOf)) {}

  enum Kind { String, Number, Date, Data, Folder, Item, Tag };

  std::pair<std::string, std::vector<Value>> next() {
    format_.clear();
    arguments_.clear();
    predicate(0);
    return {format_, arguments_};
  }

  Value constant(Kind kind) {
    switch (kind) {
      case String:
        return pick(kNames);
      case Number:
        return pick(std::vector<Value>{-1, 0, 1, 3, 10, 1024, 2.5, 1024.0, true, false});
      case Date:
        return qlt::Date(pickIndex(6) * 100.0);
      case Data:
        return Bytes(pickIndex(3), uint8_t(pickIndex(3)));
      case Folder:
        return idOf_("Folder", pickIndex(6));
      case Item:
        return idOf_("Item", pickIndex(12));
      case Tag:
        return pickIndex(8) ? Value(idOf_("Tag", pickIndex(5))) : Value(ObjectID{"other", "Tag", 1});
    }
    return Value();
  }

 private:
  struct Path {
    const char* text;
    Kind kind;
  };

  size_t pickIndex(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random_); }
  template <typename T>
  const T& pick(const std::vector<T>& values) {
    return values[pickIndex(values.size())];
  }
  bool chance(int percent) { return static_cast<int>(pickIndex(100)) < percent; }

  void predicate(int depth) {
    int roll = static_cast<int>(pickIndex(100));
    if (depth < 3 && roll < 25) {
      format_ += "(";
      predicate(depth + 1);
      format_ += pick(std::vector<std::string>{" AND ", " && ", " OR ", " || ", " or "});
      predicate(depth + 1);
      format_ += ")";
    } else if (depth < 3 && roll < 33) {
      format_ += chance(50) ? "NOT (" : "!(";
      predicate(depth + 1);
      format_ += ")";
    } else if (roll < 35) {
      format_ += chance(50) ? "TRUEPREDICATE" : "FALSEPREDICATE";
    } else {
      comparison();
    }
  }

  Kind maybeOther(Kind kind) { return chance(15) ? Kind(pickIndex(7)) : kind; }

  Value constantOrNil(int nilPercent, Kind kind) {
    if (chance(nilPercent)) return Value();
    return constant(maybeOther(kind));
  }

  void operand(Kind kind) {
    Value value = constantOrNil(8, kind);
    if (value.date() || value.data() || value.objectID() || chance(50)) {
      format_ += "%@";
      arguments_.push_back(value);
    } else {
      format_ += predicateLiteral(value);
    }
  }

  void collection(Kind kind, size_t size) {
    ValueList values;
    for (size_t i = 0; i < size; ++i) values.push_back(constantOrNil(10, kind));
    format_ += "%@";
    arguments_.emplace_back(std::move(values));
  }

  std::string op(Kind kind) {
    std::string text;
    if (kind == String || chance(10)) {
      text = pick(std::vector<std::string>{"==", "!=", "<", ">=", "BEGINSWITH", "ENDSWITH", "CONTAINS", "LIKE",
                                           "MATCHES", "=", "<>"});
    } else {
      text = pick(std::vector<std::string>{"==", "!=", "<", "<=", ">", ">=", "=<", "=>"});
    }
    if (chance(40)) text += pick(std::vector<std::string>{"[c]", "[d]", "[cd]"});
    return text;
  }

  void stringOperand(const std::string& op) {
    if (op.starts_with("LIKE")) {
      arguments_.push_back(pick(std::vector<Value>{"*a*", "?lpha", "caf*", "*.txt", "*", "", "a\\*b?", "Z?"}));
    } else if (op.starts_with("MATCHES")) {
      arguments_.push_back(pick(std::vector<Value>{"a.*", ".*[eé].*", "[A-Z].*", ".*", "caf.", "(?i)alpha"}));
    } else {
      return operand(String);
    }
    format_ += "%@";
  }

  void comparison() {
    static const std::vector<Path> scalars = {{"name", String},
                                              {"folder.name", String},
                                              {"folder.parent.name", String},
                                              {"#size", Number},
                                              {"rating", Number},
                                              {"isFavorite", Number},
                                              {"tags.@count", Number},
                                              {"folder.items.@count", Number},
                                              {"folder.children.@count", Number},
                                              {"dateModified", Date},
                                              {"thumbnail", Data},
                                              {"folder", Folder},
                                              {"folder.parent", Folder},
                                              {"self", Item}};
    static const std::vector<Path> toMany = {{"tags", Tag},
                                             {"tags.name", String},
                                             {"tags.folder.name", String},
                                             {"folder.items.size", Number},
                                             {"folder.items.name", String}};
    int form = static_cast<int>(pickIndex(100));
    if (form < 45) {
      const Path& path = pick(scalars);
      std::string text = op(path.kind);
      format_ += std::string(path.text) + " " + text + " ";
      if (chance(15)) {
        format_ += pick(scalars).text;
      } else if (path.kind == String) {
        stringOperand(text);
      } else {
        operand(path.kind);
      }
    } else if (form < 65) {
      const Path& path = pick(toMany);
      std::string text = op(path.kind);
      format_ += std::string(chance(50) ? "ANY " : "ALL ") + path.text + " " + text + " ";
      path.kind == String ? stringOperand(text) : operand(path.kind);
    } else if (form < 75) {
      const Path& path = pick(toMany);
      if (chance(50)) {
        format_ += std::string(path.text) + " CONTAINS" + (chance(30) ? "[c] " : " ");
        operand(path.kind);
      } else {
        operand(path.kind);
        format_ += std::string(" IN ") + path.text;
      }
    } else if (form < 87) {
      const Path& path = pick(scalars);
      format_ += std::string(path.text) + " IN" + (chance(30) ? "[cd] " : " ");
      if (path.kind == String && chance(20)) return operand(String);
      collection(path.kind, pickIndex(4));
    } else if (form < 95) {
      const Path& path = pick(scalars);
      format_ += std::string(path.text) + " BETWEEN ";
      if (chance(50)) return collection(path.kind, 2);
      format_ += "{";
      operand(path.kind);
      format_ += ", ";
      chance(30) ? void(format_ += pick(scalars).text) : operand(path.kind);
      format_ += "}";
    } else {
      const Path& path = pick(scalars);
      format_ += std::string(chance(50) ? "ANY " : "ALL ");
      chance(50) ? collection(path.kind, pickIndex(3)) : void(format_ += path.text);
      format_ += " " + op(path.kind) + " ";
      format_ += path.text;
    }
  }

  std::mt19937& random_;
  IDMaker idOf_;
  std::string format_;
  std::vector<Value> arguments_;
};

}  // namespace qlt
