#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/group.h"

namespace qlt {

inline constexpr const char* kLabelColorDidChangeNotification = "QLTLabelColorDidChangeNotification";

// A colour as device-RGB components from 0 to 1.
struct RGBA {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  bool operator==(const RGBA&) const = default;
};

// The Finder's label colours (`colorType` of a label).
enum class LabelColorType : int64_t {
  Custom = 0,
  Red = 1,
  Orange = 2,
  Yellow = 3,
  Green = 4,
  Blue = 5,
  Purple = 6,
  Gray = 7,
};

inline constexpr const char* kLabelErrorDomain = "QLTLabelErrorDomain";
inline constexpr long kLabelCannotMoveToFolderErrorCode = 10001;

// A coloured label that items can carry (entity "Label").
class Label : public Group {
 public:
  static LabelColorType defaultColorType() { return LabelColorType::Custom; }
  // The standard colour of a non-custom type; nullopt for Custom and for
  // codes outside 0 to 7.
  [[nodiscard]] static std::optional<RGBA> standardColorForColorType(int64_t colorType);
  // The localized colour name of codes 0 to 7; nullopt for other codes.
  [[nodiscard]] static std::optional<std::string> localizedNameForColorType(int64_t colorType);

  // Built from the stored components on every call: the four values are
  // the colour, so there is nothing worth caching that could not go stale.
  RGBA color() const;
  // Stores the components, then posts kLabelColorDidChangeNotification on
  // the main queue with this label as the library manager's view context
  // sees it, when it is found there and still belongs to a library.
  void setColor(const RGBA& color);

  int64_t colorType() const;
  // A non-custom type other than the current one also sets the colour to
  // that type's standard colour; Custom keeps the colour.
  void setColorType(int64_t colorType);

  // The items carrying the label outside the trash.
  [[nodiscard]] std::optional<FetchRequest> itemsFetchRequest() const override;
  std::vector<ItemSortOption> itemSortOptions() const override;
  std::vector<SortDescriptor> itemSortDescriptors() const override;
  void setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) override;
  // Only into the trash, which deletes the label.
  [[nodiscard]] bool canMoveToFolder(const Folder& destination, Error* error = nullptr) const override;
  [[nodiscard]] bool moveToFolder(const std::shared_ptr<Folder>& destination, Error* error = nullptr) override;

 protected:
  void awakeFromInsert() override;
};

}  // namespace qlt
