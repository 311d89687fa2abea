#pragma once

#include <memory>
#include <string>

#include "support/scratch_directory.h"
#include "platform/objectstore/persistent_container.h"

namespace qlt {

// A small library: folders in a tree (ordered children), items in folders,
// tags on items (many-to-many).
inline std::shared_ptr<const ManagedObjectModel> libraryTestModel() {
  ModelBuilder builder("TestLibrary");
  builder.entity("Group").abstract().attribute("name", AttributeType::String).indexed().done();
  builder.entity("Folder")
      .parent("Group")
      .relationship("parent", "Folder").inverse("children").done()
      .relationship("children", "Folder").ordered().inverse("parent").cascade().done()
      .relationship("items", "Item").toMany().inverse("folder").cascade().done();
  builder.entity("SmartGroup").parent("Group").attribute("query", AttributeType::String);
  builder.entity("Item")
      .attribute("name", AttributeType::String).indexed().done()
      .attribute("identifier", AttributeType::String).required().defaultValue("").done()
      .attribute("size", AttributeType::Integer64).defaultValue(0).done()
      .attribute("rating", AttributeType::Double).done()
      .attribute("flagged", AttributeType::Boolean).defaultValue(false).done()
      .attribute("dateModified", AttributeType::Date).done()
      .attribute("payload", AttributeType::Binary).done()
      .attribute("scratch", AttributeType::String).transient().done()
      .relationship("folder", "Folder").inverse("items").done()
      .relationship("tags", "Tag").toMany().inverse("items").done();
  builder.entity("Tag")
      .attribute("name", AttributeType::String).done()
      .relationship("items", "Item").toMany().inverse("tags").done();
  return builder.build();
}

// A loaded container on a store in a scratch directory.
struct TestLibrary {
  explicit TestLibrary(const std::string& directory, bool remoteChanges = false)
      : container("Library", libraryTestModel(), directory) {
    container.persistentStoreDescription().options.historyTracking = true;
    container.persistentStoreDescription().remoteChangeNotifications = remoteChanges;
    container.persistentStoreDescription().remoteChangeCheckInterval = std::chrono::milliseconds(20);
    container.loadPersistentStores([this](const PersistentStoreDescription&, const Error* error) {
      if (error) loadError = *error;
    });
  }
  std::shared_ptr<ManagedObjectContext> context(const std::string& name = {}) {
    auto context = container.newBackgroundContext();
    context->setName(name);
    return context;
  }
  PersistentContainer container;
  Error loadError;
};

}  // namespace qlt
