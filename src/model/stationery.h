#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "store/cloud_record_fields.h"
#include "store/library_object.h"

namespace qlt {

inline constexpr const char* kStationeryErrorDomain = "QLTStationeryErrorDomain";
inline constexpr long kStationeryItemWithNameExistsErrorCode = 10001;
inline constexpr const char* kStationeryActiveStateDidChangeNotification =
    "QLTStationeryActiveStateDidChangeNotification";

// A template from which new items are made (entity "Stationery"). Its file
// or package lies in the library's stationery folder named by the
// identifier with the extension of the visible `filename`, so renaming
// never touches the file. Deleting it puts the file into the user's trash
// under its visible name. The file travels as the record's asset, a package
// as an archive.
class Stationery : public LibraryObject {
 public:
  // Stationery of `context` by identifier, and the switched-on ones.
  static std::shared_ptr<Stationery> stationeryWithIdentifier(ManagedObjectContext& context,
                                                              const std::string& identifier);
  static std::vector<std::shared_ptr<Stationery>> activeStationery(ManagedObjectContext& context);

  std::string name() const;
  std::string filename() const;
  bool active() const;
  bool builtIn() const;
  bool extensionHidden() const;

  // The template's file; nothing while `filename` is empty.
  [[nodiscard]] std::optional<std::string> fileURL() const;
  [[nodiscard]] std::optional<std::string> fileURLWithPathExtension(const std::string& extension) const;
  // The type of the file at fileURL(), and a description of it.
  [[nodiscard]] std::optional<std::string> fileType() const;
  std::string kind() const;
  bool isEditableText() const;
  bool isDefault() const;
  bool canEditName() const { return !builtIn(); }

  // Names for an item made from this stationery: "New <name>", "New <kind>"
  // and "New <filename>".
  std::string nameForNewItem() const;
  std::string nameForNewItemOfFileType() const;
  std::string filenameForNewItem() const;

  // Refuses a name whose file name another stationery item has (compared
  // without regard to case).
  [[nodiscard]] bool canChangeName(const std::string& name, Error* error = nullptr) const;
  // Always true; run canChangeName first.
  [[nodiscard]] bool changeName(const std::string& name, Error* error = nullptr);
  void setExtensionHidden(bool hidden);
  // Switching off the library's default stationery clears that default.
  void setActive(bool active);

  void updateRecordWithCurrentValues(CloudRecord& record) const override;
  void updateFromCloudRecord(const CloudRecord& record) override;

 protected:
  void prepareForDeletion() override;

 private:
  void addFileToCloudRecord(CloudRecord& record) const;
  std::string stringForKey(const char* key) const;
};

}  // namespace qlt
